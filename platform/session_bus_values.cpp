// The portable half of the session-bus seam: building values, their signatures, and making
// foreign text fit for the bus.
#include <cstdint>

#include "platform/session_bus.h"

namespace pellvane::bus {
namespace {

Value scalar(Value::Kind kind, std::int64_t number) {
    Value value;
    value.kind = kind;
    value.number = number;
    return value;
}

Value textual(Value::Kind kind, std::string text) {
    Value value;
    value.kind = kind;
    value.text = std::move(text);
    return value;
}

Value container(Value::Kind kind, std::vector<Value> items) {
    Value value;
    value.kind = kind;
    value.items = std::move(items);
    return value;
}

}  // namespace

Value Value::byteValue(std::uint8_t value) {
    return scalar(Kind::byte, value);
}
Value Value::boolean(bool value) {
    return scalar(Kind::boolean, value ? 1 : 0);
}
Value Value::int32(std::int32_t value) {
    return scalar(Kind::int32, value);
}
Value Value::uint32(std::uint32_t value) {
    return scalar(Kind::uint32, value);
}
Value Value::int64(std::int64_t value) {
    return scalar(Kind::int64, value);
}
Value Value::uint64(std::uint64_t value) {
    return scalar(Kind::uint64, static_cast<std::int64_t>(value));
}
Value Value::string(std::string value) {
    return textual(Kind::string, std::move(value));
}
Value Value::objectPath(std::string value) {
    return textual(Kind::objectPath, std::move(value));
}
Value Value::array(std::string elementSignature, std::vector<Value> items) {
    Value value = container(Kind::array, std::move(items));
    value.elementSignature = std::move(elementSignature);
    return value;
}
Value Value::structure(std::vector<Value> fields) {
    return container(Kind::structure, std::move(fields));
}
Value Value::dictEntry(Value key, Value value) {
    return container(Kind::dictEntry, {std::move(key), std::move(value)});
}
Value Value::variant(Value inner) {
    return container(Kind::variant, {std::move(inner)});
}

Value Value::propertyMap(std::vector<std::pair<std::string, Value>> entries) {
    std::vector<Value> items;
    items.reserve(entries.size());
    for (auto& [key, value] : entries) {
        items.push_back(dictEntry(string(key), variant(std::move(value))));
    }
    return array("{sv}", std::move(items));
}

Value Value::stringArray(const std::vector<std::string>& strings) {
    std::vector<Value> items;
    items.reserve(strings.size());
    for (const std::string& text : strings) {
        items.push_back(string(text));
    }
    return array("s", std::move(items));
}

std::string Value::signature() const {
    switch (kind) {
        case Kind::byte:
            return "y";
        case Kind::boolean:
            return "b";
        case Kind::int32:
            return "i";
        case Kind::uint32:
            return "u";
        case Kind::int64:
            return "x";
        case Kind::uint64:
            return "t";
        case Kind::string:
            return "s";
        case Kind::objectPath:
            return "o";
        case Kind::array:
            return "a" + elementSignature;
        case Kind::variant:
            return "v";
        case Kind::structure:
        case Kind::dictEntry: {
            std::string inner;
            for (const Value& item : items) {
                inner += item.signature();
            }
            return kind == Kind::structure ? "(" + inner + ")" : "{" + inner + "}";
        }
    }
    return {};
}

const Value& Value::unwrapped() const {
    const Value* value = this;
    while (value->kind == Kind::variant && value->items.size() == 1) {
        value = &value->items.front();
    }
    return *value;
}

const Value* findProperty(const Value& map, const std::string& key) {
    if (map.kind != Value::Kind::array) {
        return nullptr;
    }
    for (const Value& entry : map.items) {
        if (entry.kind == Value::Kind::dictEntry && entry.items.size() == 2 &&
            entry.items[0].text == key) {
            return &entry.items[1].unwrapped();
        }
    }
    return nullptr;
}

Reply Reply::error(std::string name, std::string text) {
    Reply reply;
    reply.errorName = std::move(name);
    reply.errorText = std::move(text);
    return reply;
}

Reply Reply::unknownMethod(const Message& call) {
    return error("org.freedesktop.DBus.Error.UnknownMethod",
                 "No method " + call.interface + "." + call.member + " here");
}

}  // namespace pellvane::bus
