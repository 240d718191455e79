// The desktop's session message bus (D-Bus), where there is one: calls to other programs,
// objects of our own that they call, and the signals between them. Linux reaches it through
// sd-bus, loaded from libsystemd at run time; without the library or a session bus there is
// no connection and the program goes on without the desktop.
//
// Values travel as a small tree (bus::Value) so that what the program puts on the bus can be
// built and checked without one. A connection is used by one thread only, the one that
// polls its descriptor and processes it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pellvane::bus {

// One D-Bus value. Containers keep their element signature so that an empty array still
// has a type.
struct Value {
    enum class Kind {
        byte,
        boolean,
        int32,
        uint32,
        int64,
        uint64,
        string,
        objectPath,
        array,
        structure,
        dictEntry,
        variant
    };

    Kind kind = Kind::int32;
    std::int64_t number = 0;       // byte, boolean, the integers (uint64 as its bits)
    std::string text;              // string, object path
    std::string elementSignature;  // array: the signature of one element
    std::vector<Value> items;  // array elements, struct fields, a dict entry's two, a variant's one

    static Value byteValue(std::uint8_t value);
    static Value boolean(bool value);
    static Value int32(std::int32_t value);
    static Value uint32(std::uint32_t value);
    static Value int64(std::int64_t value);
    static Value uint64(std::uint64_t value);
    static Value string(std::string value);
    static Value objectPath(std::string value);
    static Value array(std::string elementSignature, std::vector<Value> items = {});
    static Value structure(std::vector<Value> fields);
    static Value dictEntry(Value key, Value value);
    static Value variant(Value inner);
    // a{sv}: the usual property map.
    static Value propertyMap(std::vector<std::pair<std::string, Value>> entries);
    static Value stringArray(const std::vector<std::string>& strings);

    std::string signature() const;
    bool isString() const { return kind == Kind::string || kind == Kind::objectPath; }
    bool isInteger() const {
        return kind != Kind::string && kind != Kind::objectPath && kind < Kind::array;
    }
    // The value inside a variant, or the value itself.
    const Value& unwrapped() const;
    friend bool operator==(const Value&, const Value&) = default;
};

// The value under `key` in an a{sv}; null when absent or when `map` is no such map.
const Value* findProperty(const Value& map, const std::string& key);

enum class MessageType { methodCall, methodReturn, error, signal };

struct Message {
    MessageType type = MessageType::methodCall;
    std::string sender;
    std::string path;
    std::string interface;
    std::string member;
    std::string errorName;  // an error
    std::vector<Value> body;
};

// What a method handler answers: a return with `body`, or the error `errorName`.
struct Reply {
    std::vector<Value> body;
    std::string errorName;
    std::string errorText;

    static Reply error(std::string name, std::string text);
    static Reply unknownMethod(const Message& call);
};

// Handlers run on the connection's thread, inside process().
using MethodHandler = std::function<Reply(const Message& call)>;
using SignalHandler = std::function<void(const Message& signal)>;
// A call's answer: its reply, or an error message (a timeout or a gone peer among them).
using ReplyHandler = std::function<void(const Message& reply)>;

class Connection {
  public:
    virtual ~Connection() = default;

    // The descriptor to poll, and the poll events it wants now.
    virtual int descriptor() const = 0;
    virtual short pollEvents() const = 0;
    // Milliseconds until the connection has work even without input (a call that times
    // out); -1 for none.
    virtual int timeoutMs() const = 0;
    // Reads and dispatches everything that has arrived, running handlers. False when the
    // connection broke: the bus is gone and this object is of no further use.
    virtual bool process() = 0;

    virtual std::string uniqueName() const = 0;
    virtual bool requestName(const std::string& name) = 0;
    // Every method call to `path` (and below it only when the handler says so) goes to
    // `handler`, whatever its interface; Introspect and Properties included.
    virtual bool exportObject(const std::string& path, MethodHandler handler) = 0;
    // Calls without waiting; `onReply` (may be empty) runs later in process().
    virtual bool call(const std::string& destination, const std::string& path,
                      const std::string& interface, const std::string& member,
                      std::vector<Value> arguments, ReplyHandler onReply) = 0;
    virtual bool emitSignal(const std::string& path, const std::string& interface,
                            const std::string& member, std::vector<Value> arguments) = 0;
    // Signals that match `rule` (the bus's match-rule syntax).
    virtual bool subscribe(const std::string& rule, SignalHandler handler) = 0;
};

// The session bus of this login, through `libraryName` (libsystemd unless a test names
// another); null without the library or a bus to reach.
std::unique_ptr<Connection> openSessionBus(const char* libraryName = nullptr);

}  // namespace pellvane::bus
