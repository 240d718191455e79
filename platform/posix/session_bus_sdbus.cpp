// The session bus through sd-bus, loaded from libsystemd when a connection is opened. Only
// opaque handles and plain C calls are used (no vtables), so the declarations below are all
// the library's interface that this file needs. Every call that fails is a return value:
// a broken bus ends the connection, never the program.
#include <poll.h>
#include <time.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <deque>
#include <limits>
#include <map>
#include <optional>

#include "platform/dynamic_library.h"
#include "platform/session_bus.h"

namespace pellvane::bus {
namespace {

struct SdBus;
struct SdBusMessage;
struct SdBusSlot;
struct SdBusError {
    const char* name;
    const char* message;
    int needFree;
};
using SdHandler = int (*)(SdBusMessage* message, void* context, SdBusError* error);

// The sd-bus message types.
constexpr std::uint8_t typeMethodCall = 1;
constexpr std::uint8_t typeMethodReturn = 2;
constexpr std::uint8_t typeMethodError = 3;
constexpr std::uint8_t typeSignal = 4;

constexpr std::uint64_t defaultCallTimeout = 0;  // the library's own (25 s)
constexpr int maximumDepth = 32;                 // the bus's own limit on nesting

struct SdBusLibrary {
    dynlib::LibraryHandle handle = nullptr;
    int (*openUser)(SdBus**) = nullptr;
    SdBus* (*flushCloseUnref)(SdBus*) = nullptr;
    int (*getFd)(SdBus*) = nullptr;
    int (*getEvents)(SdBus*) = nullptr;
    int (*getTimeout)(SdBus*, std::uint64_t*) = nullptr;
    int (*process)(SdBus*, SdBusMessage**) = nullptr;
    int (*getUniqueName)(SdBus*, const char**) = nullptr;
    int (*requestName)(SdBus*, const char*, std::uint64_t) = nullptr;
    int (*addObject)(SdBus*, SdBusSlot**, const char*, SdHandler, void*) = nullptr;
    int (*addFallback)(SdBus*, SdBusSlot**, const char*, SdHandler, void*) = nullptr;
    int (*addMatch)(SdBus*, SdBusSlot**, const char*, SdHandler, void*) = nullptr;
    int (*send)(SdBus*, SdBusMessage*, std::uint64_t*) = nullptr;
    int (*callAsync)(SdBus*, SdBusSlot**, SdBusMessage*, SdHandler, void*, std::uint64_t) = nullptr;
    int (*newMethodCall)(SdBus*, SdBusMessage**, const char*, const char*, const char*,
                         const char*) = nullptr;
    int (*newSignal)(SdBus*, SdBusMessage**, const char*, const char*, const char*) = nullptr;
    int (*newMethodReturn)(SdBusMessage*, SdBusMessage**) = nullptr;
    int (*newMethodError)(SdBusMessage*, SdBusMessage**, const SdBusError*) = nullptr;
    SdBusMessage* (*messageUnref)(SdBusMessage*) = nullptr;
    int (*getType)(SdBusMessage*, std::uint8_t*) = nullptr;
    const char* (*getSender)(SdBusMessage*) = nullptr;
    const char* (*getPath)(SdBusMessage*) = nullptr;
    const char* (*getInterface)(SdBusMessage*) = nullptr;
    const char* (*getMember)(SdBusMessage*) = nullptr;
    const SdBusError* (*getError)(SdBusMessage*) = nullptr;
    SdBus* (*getBus)(SdBusMessage*) = nullptr;
    int (*appendBasic)(SdBusMessage*, char, const void*) = nullptr;
    int (*openContainer)(SdBusMessage*, char, const char*) = nullptr;
    int (*closeContainer)(SdBusMessage*) = nullptr;
    int (*readBasic)(SdBusMessage*, char, void*) = nullptr;
    int (*enterContainer)(SdBusMessage*, char, const char*) = nullptr;
    int (*exitContainer)(SdBusMessage*) = nullptr;
    int (*peekType)(SdBusMessage*, char*, const char**) = nullptr;
    int (*skip)(SdBusMessage*, const char*) = nullptr;

    template <typename Function>
    bool find(Function& function, const char* name) {
        function = reinterpret_cast<Function>(dynlib::findSymbol(handle, name));
        return function != nullptr;
    }

    bool load(const char* name) {
        handle = dynlib::open(name);
        if (handle == nullptr) {
            return false;
        }
        const bool complete =
            find(openUser, "sd_bus_open_user") &&
            find(flushCloseUnref, "sd_bus_flush_close_unref") && find(getFd, "sd_bus_get_fd") &&
            find(getEvents, "sd_bus_get_events") && find(getTimeout, "sd_bus_get_timeout") &&
            find(process, "sd_bus_process") && find(getUniqueName, "sd_bus_get_unique_name") &&
            find(requestName, "sd_bus_request_name") && find(addObject, "sd_bus_add_object") &&
            find(addFallback, "sd_bus_add_fallback") && find(addMatch, "sd_bus_add_match") &&
            find(send, "sd_bus_send") && find(callAsync, "sd_bus_call_async") &&
            find(newMethodCall, "sd_bus_message_new_method_call") &&
            find(newSignal, "sd_bus_message_new_signal") &&
            find(newMethodReturn, "sd_bus_message_new_method_return") &&
            find(newMethodError, "sd_bus_message_new_method_error") &&
            find(messageUnref, "sd_bus_message_unref") &&
            find(getType, "sd_bus_message_get_type") &&
            find(getSender, "sd_bus_message_get_sender") &&
            find(getPath, "sd_bus_message_get_path") &&
            find(getInterface, "sd_bus_message_get_interface") &&
            find(getMember, "sd_bus_message_get_member") &&
            find(getError, "sd_bus_message_get_error") && find(getBus, "sd_bus_message_get_bus") &&
            find(appendBasic, "sd_bus_message_append_basic") &&
            find(openContainer, "sd_bus_message_open_container") &&
            find(closeContainer, "sd_bus_message_close_container") &&
            find(readBasic, "sd_bus_message_read_basic") &&
            find(enterContainer, "sd_bus_message_enter_container") &&
            find(exitContainer, "sd_bus_message_exit_container") &&
            find(peekType, "sd_bus_message_peek_type") && find(skip, "sd_bus_message_skip");
        if (!complete) {
            dynlib::close(handle);
            handle = nullptr;
        }
        return complete;
    }
};

std::string orEmpty(const char* text) {
    return text == nullptr ? std::string() : std::string(text);
}

// Writes values into a message being built; false at the first that the library refused.
class MessageWriter {
  public:
    MessageWriter(const SdBusLibrary& library, SdBusMessage* message)
        : library_(library), message_(message) {}

    bool append(const Value& value, int depth = 0) {
        if (depth > maximumDepth) {
            return false;
        }
        switch (value.kind) {
            case Value::Kind::byte: {
                const std::uint8_t byte = static_cast<std::uint8_t>(value.number);
                return library_.appendBasic(message_, 'y', &byte) >= 0;
            }
            case Value::Kind::boolean: {
                const int flag = value.number != 0 ? 1 : 0;
                return library_.appendBasic(message_, 'b', &flag) >= 0;
            }
            case Value::Kind::int32: {
                const std::int32_t number = static_cast<std::int32_t>(value.number);
                return library_.appendBasic(message_, 'i', &number) >= 0;
            }
            case Value::Kind::uint32: {
                const std::uint32_t number = static_cast<std::uint32_t>(value.number);
                return library_.appendBasic(message_, 'u', &number) >= 0;
            }
            case Value::Kind::int64: {
                const std::int64_t number = value.number;
                return library_.appendBasic(message_, 'x', &number) >= 0;
            }
            case Value::Kind::uint64: {
                const std::uint64_t number = static_cast<std::uint64_t>(value.number);
                return library_.appendBasic(message_, 't', &number) >= 0;
            }
            case Value::Kind::string:
            case Value::Kind::objectPath:
                return library_.appendBasic(message_, value.kind == Value::Kind::string ? 's' : 'o',
                                            value.text.c_str()) >= 0;
            case Value::Kind::array:
                return appendContainer('a', value.elementSignature, value.items, depth);
            case Value::Kind::variant:
                return value.items.size() == 1 &&
                       appendContainer('v', value.items[0].signature(), value.items, depth);
            case Value::Kind::structure:
            case Value::Kind::dictEntry: {
                const std::string whole = value.signature();
                return appendContainer(value.kind == Value::Kind::structure ? 'r' : 'e',
                                       whole.substr(1, whole.size() - 2), value.items, depth);
            }
        }
        return false;
    }

  private:
    bool appendContainer(char type, const std::string& contents, const std::vector<Value>& items,
                         int depth) {
        if (library_.openContainer(message_, type, contents.c_str()) < 0) {
            return false;
        }
        for (const Value& item : items) {
            if (!append(item, depth + 1)) {
                return false;
            }
        }
        return library_.closeContainer(message_) >= 0;
    }

    const SdBusLibrary& library_;
    SdBusMessage* message_;
};

// Reads a received message's body into values. Types the program never receives (doubles,
// descriptors, signatures) are skipped.
class MessageReader {
  public:
    MessageReader(const SdBusLibrary& library, SdBusMessage* message)
        : library_(library), message_(message) {}

    bool readAll(std::vector<Value>& into, int depth = 0) {
        for (;;) {
            char type = 0;
            const char* contents = nullptr;
            const int more = library_.peekType(message_, &type, &contents);
            if (more <= 0) {
                return more == 0;
            }
            if (!isRead(type)) {
                const char signature[2] = {type, '\0'};
                if (library_.skip(message_, signature) < 0) {
                    return false;
                }
                continue;
            }
            std::optional<Value> value = read(type, contents, depth);
            if (!value) {
                return false;
            }
            into.push_back(std::move(*value));
        }
    }

  private:
    template <typename Number>
    std::optional<Value> readNumber(char type, Value::Kind kind) {
        Number number{};
        if (library_.readBasic(message_, type, &number) < 0) {
            return std::nullopt;
        }
        Value value;
        value.kind = kind;
        value.number = static_cast<std::int64_t>(number);
        return value;
    }

    std::optional<Value> read(char type, const char* contents, int depth) {
        switch (type) {
            case 'y':
                return readNumber<std::uint8_t>(type, Value::Kind::byte);
            case 'b':
                return readNumber<int>(type, Value::Kind::boolean);
            case 'i':
                return readNumber<std::int32_t>(type, Value::Kind::int32);
            case 'u':
                return readNumber<std::uint32_t>(type, Value::Kind::uint32);
            case 'x':
                return readNumber<std::int64_t>(type, Value::Kind::int64);
            case 't':
                return readNumber<std::uint64_t>(type, Value::Kind::uint64);
            case 's':
            case 'o': {
                const char* text = nullptr;
                if (library_.readBasic(message_, type, &text) < 0) {
                    return std::nullopt;
                }
                return type == 's' ? Value::string(orEmpty(text))
                                   : Value::objectPath(orEmpty(text));
            }
            default:
                return readContainer(type, contents, depth);
        }
    }

    static bool isRead(char type) { return std::strchr("ybiuxtsoavre", type) != nullptr; }

    std::optional<Value> readContainer(char type, const char* contents, int depth) {
        if (depth >= maximumDepth || library_.enterContainer(message_, type, contents) < 0) {
            return std::nullopt;
        }
        Value value;
        value.kind = type == 'a'   ? Value::Kind::array
                     : type == 'v' ? Value::Kind::variant
                     : type == 'r' ? Value::Kind::structure
                                   : Value::Kind::dictEntry;
        value.elementSignature = orEmpty(contents);
        if (!readAll(value.items, depth + 1) || library_.exitContainer(message_) < 0) {
            return std::nullopt;
        }
        if (type != 'a') {
            value.elementSignature.clear();
        }
        return value;
    }

    const SdBusLibrary& library_;
    SdBusMessage* message_;
};

class SdBusConnection final : public Connection {
  public:
    SdBusConnection(SdBusLibrary library, SdBus* bus) : library_(library), bus_(bus) {}

    // The library stays loaded: what it keeps for the process (its caches, the handlers
    // of its threads' exits) must not point into unmapped code.
    ~SdBusConnection() override { library_.flushCloseUnref(bus_); }

    SdBusConnection(const SdBusConnection&) = delete;
    SdBusConnection& operator=(const SdBusConnection&) = delete;

    int descriptor() const override { return library_.getFd(bus_); }

    short pollEvents() const override {
        const int events = library_.getEvents(bus_);
        return static_cast<short>(events < 0 ? POLLIN : events);
    }

    int timeoutMs() const override {
        std::uint64_t due = 0;
        if (library_.getTimeout(bus_, &due) < 0 ||
            due == std::numeric_limits<std::uint64_t>::max()) {
            return -1;
        }
        timespec now{};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        const std::uint64_t nowUs = static_cast<std::uint64_t>(now.tv_sec) * 1'000'000u +
                                    static_cast<std::uint64_t>(now.tv_nsec) / 1000u;
        if (due <= nowUs) {
            return 0;
        }
        const std::uint64_t leftMs = (due - nowUs + 999u) / 1000u;
        return leftMs > 60'000u ? 60'000 : static_cast<int>(leftMs);
    }

    bool process() override {
        for (;;) {
            const int result = library_.process(bus_, nullptr);
            if (result < 0) {
                return false;
            }
            if (result == 0) {
                return true;
            }
        }
    }

    std::string uniqueName() const override {
        const char* name = nullptr;
        return library_.getUniqueName(bus_, &name) < 0 ? std::string() : orEmpty(name);
    }

    bool requestName(const std::string& name) override {
        return library_.requestName(bus_, name.c_str(), 0) >= 0;
    }

    bool exportObject(const std::string& path, MethodHandler handler) override {
        Handlers& handlers = handlers_.emplace_back();
        handlers.owner = this;
        handlers.method = std::move(handler);
        return library_.addObject(bus_, nullptr, path.c_str(), &SdBusConnection::onMethod,
                                  &handlers) >= 0;
    }

    bool call(const std::string& destination, const std::string& path, const std::string& interface,
              const std::string& member, std::vector<Value> arguments,
              ReplyHandler onReply) override {
        SdBusMessage* message = nullptr;
        if (library_.newMethodCall(bus_, &message, destination.c_str(), path.c_str(),
                                   interface.c_str(), member.c_str()) < 0) {
            return false;
        }
        bool sent = false;
        if (appendAll(message, arguments)) {
            const auto [pending, added] =
                pendingCalls_.emplace(nextCall_++, PendingCall{this, std::move(onReply), 0});
            pending->second.key = pending->first;
            sent = library_.callAsync(bus_, nullptr, message, &SdBusConnection::onReply,
                                      &pending->second, defaultCallTimeout) >= 0;
            if (!sent) {
                pendingCalls_.erase(pending);
            }
        }
        library_.messageUnref(message);
        return sent;
    }

    bool emitSignal(const std::string& path, const std::string& interface,
                    const std::string& member, std::vector<Value> arguments) override {
        SdBusMessage* message = nullptr;
        if (library_.newSignal(bus_, &message, path.c_str(), interface.c_str(), member.c_str()) <
            0) {
            return false;
        }
        const bool sent =
            appendAll(message, arguments) && library_.send(bus_, message, nullptr) >= 0;
        library_.messageUnref(message);
        return sent;
    }

    bool subscribe(const std::string& rule, SignalHandler handler) override {
        Handlers& handlers = handlers_.emplace_back();
        handlers.owner = this;
        handlers.signal = std::move(handler);
        return library_.addMatch(bus_, nullptr, rule.c_str(), &SdBusConnection::onSignal,
                                 &handlers) >= 0;
    }

  private:
    // What one registration calls back; kept at a fixed address for as long as the bus,
    // which holds a pointer to it.
    struct Handlers {
        SdBusConnection* owner = nullptr;
        MethodHandler method;
        SignalHandler signal;
    };

    bool appendAll(SdBusMessage* message, const std::vector<Value>& values) const {
        MessageWriter writer(library_, message);
        for (const Value& value : values) {
            if (!writer.append(value)) {
                return false;
            }
        }
        return true;
    }

    // Nothing when the body cannot be read: such a message is not passed on.
    std::optional<Message> received(SdBusMessage* raw) const {
        Message message;
        std::uint8_t type = 0;
        library_.getType(raw, &type);
        switch (type) {
            case typeMethodCall:
                message.type = MessageType::methodCall;
                break;
            case typeMethodReturn:
                message.type = MessageType::methodReturn;
                break;
            case typeMethodError:
                message.type = MessageType::error;
                break;
            case typeSignal:
            default:
                message.type = MessageType::signal;
                break;
        }
        message.sender = orEmpty(library_.getSender(raw));
        message.path = orEmpty(library_.getPath(raw));
        message.interface = orEmpty(library_.getInterface(raw));
        message.member = orEmpty(library_.getMember(raw));
        if (message.type == MessageType::error) {
            const SdBusError* error = library_.getError(raw);
            message.errorName = error == nullptr ? "" : orEmpty(error->name);
            return message;
        }
        MessageReader reader(library_, raw);
        if (!reader.readAll(message.body)) {
            return std::nullopt;
        }
        return message;
    }

    void answer(SdBusMessage* call, const Reply& reply) {
        SdBusMessage* answer = nullptr;
        bool built = false;
        if (reply.errorName.empty()) {
            built = library_.newMethodReturn(call, &answer) >= 0 && appendAll(answer, reply.body);
        }
        if (!built) {
            if (answer != nullptr) {
                library_.messageUnref(answer);
                answer = nullptr;
            }
            const std::string name =
                reply.errorName.empty() ? "org.freedesktop.DBus.Error.Failed" : reply.errorName;
            const SdBusError error{name.c_str(), reply.errorText.c_str(), 0};
            if (library_.newMethodError(call, &answer, &error) < 0) {
                return;
            }
        }
        library_.send(bus_, answer, nullptr);
        library_.messageUnref(answer);
    }

    static int onMethod(SdBusMessage* raw, void* context, SdBusError*) {
        Handlers& handlers = *static_cast<Handlers*>(context);
        SdBusConnection& self = *handlers.owner;
        std::uint8_t type = 0;
        if (self.library_.getType(raw, &type) < 0 || type != typeMethodCall) {
            return 0;
        }
        const std::optional<Message> call = self.received(raw);
        const Reply reply = call ? handlers.method(*call)
                                 : Reply::error("org.freedesktop.DBus.Error.InvalidArgs",
                                                "The arguments could not be read");
        self.answer(raw, reply);
        return 1;
    }

    static int onSignal(SdBusMessage* raw, void* context, SdBusError*) {
        Handlers& handlers = *static_cast<Handlers*>(context);
        if (const std::optional<Message> signal = handlers.owner->received(raw)) {
            handlers.signal(*signal);
        }
        return 0;  // others may want it too
    }

    // A call is answered once, by its reply or by the error the library makes of a timeout;
    // its entry goes with the answer.
    static int onReply(SdBusMessage* raw, void* context, SdBusError*) {
        PendingCall& pending = *static_cast<PendingCall*>(context);
        SdBusConnection& self = *pending.owner;
        std::optional<Message> reply = self.received(raw);
        if (!reply) {
            reply = Message{};
            reply->type = MessageType::error;
            reply->errorName = "org.freedesktop.DBus.Error.InvalidArgs";
        }
        const ReplyHandler handler = std::move(pending.handler);
        self.pendingCalls_.erase(pending.key);
        if (handler) {
            handler(*reply);
        }
        return 1;
    }

    struct PendingCall {
        SdBusConnection* owner = nullptr;
        ReplyHandler handler;
        std::uint64_t key = 0;
    };

    SdBusLibrary library_;
    SdBus* bus_;
    // The bus points into both for as long as it lives: neither moves an element.
    std::deque<Handlers> handlers_;
    std::map<std::uint64_t, PendingCall> pendingCalls_;
    std::uint64_t nextCall_ = 1;
};

}  // namespace

std::unique_ptr<Connection> openSessionBus(const char* libraryName) {
    SdBusLibrary library;
    if (!library.load(libraryName != nullptr ? libraryName : "libsystemd.so.0")) {
        return nullptr;
    }
    SdBus* bus = nullptr;
    if (library.openUser(&bus) < 0 || bus == nullptr) {
        dynlib::close(library.handle);
        return nullptr;
    }
    return std::make_unique<SdBusConnection>(library, bus);
}

}  // namespace pellvane::bus
