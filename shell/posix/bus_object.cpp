#include "shell/posix/bus_object.h"

namespace pellvane::shell {
namespace {

constexpr char propertiesInterface[] = "org.freedesktop.DBus.Properties";
constexpr char introspectableInterface[] = "org.freedesktop.DBus.Introspectable";

std::string introspection(const std::vector<BusInterface>& interfaces) {
    std::string xml =
        "<!DOCTYPE node PUBLIC \"-//freedesktop//DTD D-BUS Object Introspection 1.0//EN\" "
        "\"http://www.freedesktop.org/standards/dbus/1.0/introspect.dtd\">\n<node>\n"
        " <interface name=\"org.freedesktop.DBus.Introspectable\">\n"
        "  <method name=\"Introspect\"><arg name=\"xml\" type=\"s\" direction=\"out\"/></method>\n"
        " </interface>\n"
        " <interface name=\"org.freedesktop.DBus.Properties\">\n"
        "  <method name=\"Get\"><arg type=\"s\" direction=\"in\"/><arg type=\"s\" "
        "direction=\"in\"/><arg type=\"v\" direction=\"out\"/></method>\n"
        "  <method name=\"GetAll\"><arg type=\"s\" direction=\"in\"/><arg type=\"a{sv}\" "
        "direction=\"out\"/></method>\n"
        "  <signal name=\"PropertiesChanged\"><arg type=\"s\"/><arg type=\"a{sv}\"/><arg "
        "type=\"as\"/></signal>\n"
        " </interface>\n";
    for (const BusInterface& interface : interfaces) {
        xml += " <interface name=\"" + interface.name + "\">\n" + interface.members +
               " </interface>\n";
    }
    return xml + "</node>\n";
}

const BusInterface* named(const std::vector<BusInterface>& interfaces, const std::string& name) {
    for (const BusInterface& interface : interfaces) {
        if (interface.name == name) {
            return &interface;
        }
    }
    return nullptr;
}

bus::Reply unknownInterface(const std::string& name) {
    return bus::Reply::error("org.freedesktop.DBus.Error.UnknownInterface",
                             "No interface " + name + " here");
}

bus::Reply answerProperties(const bus::Message& call, const std::vector<BusInterface>& interfaces) {
    const auto& body = call.body;
    if (body.empty() || body[0].kind != bus::Value::Kind::string) {
        return bus::Reply::error("org.freedesktop.DBus.Error.InvalidArgs", "No interface named");
    }
    const BusInterface* interface = named(interfaces, body[0].text);
    if (interface == nullptr) {
        return unknownInterface(body[0].text);
    }
    PropertyList properties = interface->properties ? interface->properties() : PropertyList{};
    if (call.member == "GetAll") {
        return bus::Reply{{bus::Value::propertyMap(std::move(properties))}, {}, {}};
    }
    if (call.member == "Get" && body.size() >= 2 && body[1].kind == bus::Value::Kind::string) {
        for (auto& [name, value] : properties) {
            if (name == body[1].text) {
                return bus::Reply{{bus::Value::variant(std::move(value))}, {}, {}};
            }
        }
        return bus::Reply::error("org.freedesktop.DBus.Error.UnknownProperty",
                                 "No property " + body[1].text);
    }
    if (call.member == "Set") {
        return bus::Reply::error("org.freedesktop.DBus.Error.PropertyReadOnly",
                                 "The properties are read-only");
    }
    return bus::Reply::unknownMethod(call);
}

}  // namespace

std::optional<bus::Reply> answerStandardCall(const bus::Message& call,
                                             const std::vector<BusInterface>& interfaces) {
    if (call.interface == introspectableInterface) {
        if (call.member != "Introspect") {
            return bus::Reply::unknownMethod(call);
        }
        return bus::Reply{{bus::Value::string(introspection(interfaces))}, {}, {}};
    }
    if (call.interface == propertiesInterface) {
        return answerProperties(call, interfaces);
    }
    return std::nullopt;
}

}  // namespace pellvane::shell
