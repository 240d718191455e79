#include "shell/posix/dbus_menu.h"

#include <algorithm>

#include "shell/posix/bus_object.h"

namespace pellvane::shell {
namespace {

using bus::Value;

constexpr std::int32_t rootId = 0;

constexpr char menuMembers[] =
    "  <method name=\"GetLayout\"><arg type=\"i\" direction=\"in\"/><arg type=\"i\" "
    "direction=\"in\"/><arg type=\"as\" direction=\"in\"/><arg type=\"u\" direction=\"out\"/>"
    "<arg type=\"(ia{sv}av)\" direction=\"out\"/></method>\n"
    "  <method name=\"GetGroupProperties\"><arg type=\"ai\" direction=\"in\"/><arg type=\"as\" "
    "direction=\"in\"/><arg type=\"a(ia{sv})\" direction=\"out\"/></method>\n"
    "  <method name=\"GetProperty\"><arg type=\"i\" direction=\"in\"/><arg type=\"s\" "
    "direction=\"in\"/><arg type=\"v\" direction=\"out\"/></method>\n"
    "  <method name=\"Event\"><arg type=\"i\" direction=\"in\"/><arg type=\"s\" "
    "direction=\"in\"/><arg type=\"v\" direction=\"in\"/><arg type=\"u\" "
    "direction=\"in\"/></method>\n"
    "  <method name=\"EventGroup\"><arg type=\"a(isvu)\" direction=\"in\"/><arg type=\"ai\" "
    "direction=\"out\"/></method>\n"
    "  <method name=\"AboutToShow\"><arg type=\"i\" direction=\"in\"/><arg type=\"b\" "
    "direction=\"out\"/></method>\n"
    "  <method name=\"AboutToShowGroup\"><arg type=\"ai\" direction=\"in\"/><arg type=\"ai\" "
    "direction=\"out\"/><arg type=\"ai\" direction=\"out\"/></method>\n"
    "  <signal name=\"ItemsPropertiesUpdated\"><arg type=\"a(ia{sv})\"/><arg "
    "type=\"a(ias)\"/></signal>\n"
    "  <signal name=\"LayoutUpdated\"><arg type=\"u\"/><arg type=\"i\"/></signal>\n"
    "  <signal name=\"ItemActivationRequested\"><arg type=\"i\"/><arg type=\"u\"/></signal>\n"
    "  <property name=\"Version\" type=\"u\" access=\"read\"/>\n"
    "  <property name=\"TextDirection\" type=\"s\" access=\"read\"/>\n"
    "  <property name=\"Status\" type=\"s\" access=\"read\"/>\n"
    "  <property name=\"IconThemePath\" type=\"as\" access=\"read\"/>\n";

PropertyList itemProperties(const MenuItem& item) {
    if (item.separator) {
        return {{"type", Value::string("separator")}};
    }
    PropertyList properties{{"label", Value::string(item.label)},
                            {"enabled", Value::boolean(item.enabled)},
                            {"visible", Value::boolean(true)}};
    if (item.checkmark) {
        properties.emplace_back("toggle-type", Value::string("checkmark"));
        properties.emplace_back("toggle-state", Value::int32(item.checked ? 1 : 0));
    }
    return properties;
}

// Only the properties asked for; an empty list asks for all.
Value propertyMap(PropertyList properties, const std::vector<std::string>& names) {
    if (!names.empty()) {
        std::erase_if(properties, [&](const auto& property) {
            return std::find(names.begin(), names.end(), property.first) == names.end();
        });
    }
    return Value::propertyMap(std::move(properties));
}

Value node(std::int32_t id, Value properties, std::vector<Value> children) {
    return Value::structure(
        {Value::int32(id), std::move(properties), Value::array("v", std::move(children))});
}

std::vector<std::string> stringsOf(const Value& array) {
    std::vector<std::string> strings;
    for (const Value& item : array.items) {
        if (item.kind == Value::Kind::string) {
            strings.push_back(item.text);
        }
    }
    return strings;
}

bool argumentsAre(const bus::Message& call, const std::string& signature) {
    std::string actual;
    for (const Value& value : call.body) {
        actual += value.signature();
    }
    return actual == signature;
}

bus::Reply invalidArguments() {
    return bus::Reply::error("org.freedesktop.DBus.Error.InvalidArgs", "Unexpected arguments");
}

}  // namespace

DbusMenu::DbusMenu(bus::Connection& bus, std::function<void(MenuCommand)> onCommand)
    : bus_(bus), onCommand_(std::move(onCommand)) {}

bool DbusMenu::publish() {
    return bus_.exportObject(objectPath, [this](const bus::Message& call) { return answer(call); });
}

void DbusMenu::show(std::vector<MenuItem> items) {
    if (items == items_) {
        return;
    }
    items_ = std::move(items);
    ++revision_;
    bus_.emitSignal(objectPath, interfaceName, "LayoutUpdated",
                    {Value::uint32(revision_), Value::int32(rootId)});
}

Value DbusMenu::layout(std::int32_t parent, std::int32_t depth,
                       const std::vector<std::string>& names) const {
    if (parent != rootId) {
        const auto item = std::find_if(items_.begin(), items_.end(),
                                       [&](const MenuItem& each) { return each.id == parent; });
        return node(parent, propertyMap(itemProperties(*item), names), {});
    }
    std::vector<Value> children;
    if (depth != 0) {
        for (const MenuItem& item : items_) {
            children.push_back(
                Value::variant(node(item.id, propertyMap(itemProperties(item), names), {})));
        }
    }
    return node(rootId, propertyMap({{"children-display", Value::string("submenu")}}, names),
                std::move(children));
}

bus::Reply DbusMenu::getGroupProperties(const bus::Message& call) const {
    const std::vector<std::string> names = stringsOf(call.body[1]);
    std::vector<Value> found;
    for (const Value& id : call.body[0].items) {
        if (id.number == rootId) {
            found.push_back(Value::structure(
                {Value::int32(rootId),
                 propertyMap({{"children-display", Value::string("submenu")}}, names)}));
        }
        for (const MenuItem& item : items_) {
            if (item.id == id.number) {
                found.push_back(Value::structure(
                    {Value::int32(item.id), propertyMap(itemProperties(item), names)}));
            }
        }
    }
    return bus::Reply{{Value::array("(ia{sv})", std::move(found))}, {}, {}};
}

bus::Reply DbusMenu::event(std::int32_t id, const std::string& eventId) {
    if (commandOf(items_, id) == MenuCommand::none &&
        std::none_of(items_.begin(), items_.end(),
                     [&](const MenuItem& item) { return item.id == id; })) {
        return bus::Reply::error("org.freedesktop.DBus.Error.InvalidArgs", "No such item");
    }
    if (eventId == "clicked") {
        const MenuCommand command = commandOf(items_, id);
        if (command != MenuCommand::none) {
            onCommand_(command);
        }
    }
    return {};
}

bus::Reply DbusMenu::eventGroup(const bus::Message& call) {
    std::vector<Value> unknown;
    for (const Value& each : call.body[0].items) {
        if (each.items.size() < 2) {
            continue;
        }
        const auto id = static_cast<std::int32_t>(each.items[0].number);
        if (!event(id, each.items[1].text).errorName.empty()) {
            unknown.push_back(Value::int32(id));
        }
    }
    return bus::Reply{{Value::array("i", std::move(unknown))}, {}, {}};
}

bus::Reply DbusMenu::answer(const bus::Message& call) {
    const std::vector<BusInterface> interfaces{{interfaceName, menuMembers, [] {
                                                    return PropertyList{
                                                        {"Version", Value::uint32(3)},
                                                        {"TextDirection", Value::string("ltr")},
                                                        {"Status", Value::string("normal")},
                                                        {"IconThemePath", Value::array("s")}};
                                                }}};
    if (std::optional<bus::Reply> standard = answerStandardCall(call, interfaces)) {
        return *standard;
    }
    if (call.interface != interfaceName) {
        return bus::Reply::unknownMethod(call);
    }
    const bool knownId = !call.body.empty() && call.body[0].kind == Value::Kind::int32 &&
                         (call.body[0].number == rootId ||
                          std::any_of(items_.begin(), items_.end(), [&](const MenuItem& item) {
                              return item.id == call.body[0].number;
                          }));
    if (call.member == "GetLayout") {
        if (!argumentsAre(call, "iias")) {
            return invalidArguments();
        }
        if (!knownId) {
            return bus::Reply::error("org.freedesktop.DBus.Error.InvalidArgs", "No such item");
        }
        return bus::Reply{
            {Value::uint32(revision_),
             layout(static_cast<std::int32_t>(call.body[0].number),
                    static_cast<std::int32_t>(call.body[1].number), stringsOf(call.body[2]))},
            {},
            {}};
    }
    if (call.member == "GetGroupProperties") {
        return argumentsAre(call, "aias") ? getGroupProperties(call) : invalidArguments();
    }
    if (call.member == "GetProperty") {
        if (!argumentsAre(call, "is") || !knownId || call.body[0].number == rootId) {
            return invalidArguments();
        }
        for (auto& [name, value] :
             itemProperties(*std::find_if(items_.begin(), items_.end(), [&](const MenuItem& item) {
                 return item.id == call.body[0].number;
             }))) {
            if (name == call.body[1].text) {
                return bus::Reply{{Value::variant(value)}, {}, {}};
            }
        }
        return invalidArguments();
    }
    if (call.member == "Event") {
        if (!argumentsAre(call, "isvu")) {
            return invalidArguments();
        }
        return event(static_cast<std::int32_t>(call.body[0].number), call.body[1].text);
    }
    if (call.member == "EventGroup") {
        return argumentsAre(call, "a(isvu)") ? eventGroup(call) : invalidArguments();
    }
    if (call.member == "AboutToShow") {
        return argumentsAre(call, "i") ? bus::Reply{{Value::boolean(false)}, {}, {}}
                                       : invalidArguments();
    }
    if (call.member == "AboutToShowGroup") {
        return bus::Reply{{Value::array("i"), Value::array("i")}, {}, {}};
    }
    return bus::Reply::unknownMethod(call);
}

}  // namespace pellvane::shell
