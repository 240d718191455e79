#include "shell/posix/status_notifier_item.h"

#include <unistd.h>

#include "shell/posix/bus_object.h"
#include "shell/posix/dbus_menu.h"

namespace pellvane::shell {
namespace {

using bus::Value;

constexpr char iconName[] = "pellvane-server";
constexpr char title[] = "Pellvane Server";

constexpr char itemMembers[] =
    "  <method name=\"ContextMenu\"><arg type=\"i\" direction=\"in\"/><arg type=\"i\" "
    "direction=\"in\"/></method>\n"
    "  <method name=\"Activate\"><arg type=\"i\" direction=\"in\"/><arg type=\"i\" "
    "direction=\"in\"/></method>\n"
    "  <method name=\"SecondaryActivate\"><arg type=\"i\" direction=\"in\"/><arg type=\"i\" "
    "direction=\"in\"/></method>\n"
    "  <method name=\"Scroll\"><arg type=\"i\" direction=\"in\"/><arg type=\"s\" "
    "direction=\"in\"/></method>\n"
    "  <signal name=\"NewTitle\"/>\n  <signal name=\"NewIcon\"/>\n"
    "  <signal name=\"NewAttentionIcon\"/>\n  <signal name=\"NewOverlayIcon\"/>\n"
    "  <signal name=\"NewToolTip\"/>\n"
    "  <signal name=\"NewStatus\"><arg type=\"s\"/></signal>\n"
    "  <property name=\"Category\" type=\"s\" access=\"read\"/>\n"
    "  <property name=\"Id\" type=\"s\" access=\"read\"/>\n"
    "  <property name=\"Title\" type=\"s\" access=\"read\"/>\n"
    "  <property name=\"Status\" type=\"s\" access=\"read\"/>\n"
    "  <property name=\"WindowId\" type=\"i\" access=\"read\"/>\n"
    "  <property name=\"IconName\" type=\"s\" access=\"read\"/>\n"
    "  <property name=\"IconThemePath\" type=\"s\" access=\"read\"/>\n"
    "  <property name=\"IconPixmap\" type=\"a(iiay)\" access=\"read\"/>\n"
    "  <property name=\"OverlayIconName\" type=\"s\" access=\"read\"/>\n"
    "  <property name=\"AttentionIconName\" type=\"s\" access=\"read\"/>\n"
    "  <property name=\"AttentionIconPixmap\" type=\"a(iiay)\" access=\"read\"/>\n"
    "  <property name=\"ToolTip\" type=\"(sa(iiay)ss)\" access=\"read\"/>\n"
    "  <property name=\"ItemIsMenu\" type=\"b\" access=\"read\"/>\n"
    "  <property name=\"Menu\" type=\"o\" access=\"read\"/>\n";

}  // namespace

StatusNotifierItem::StatusNotifierItem(bus::Connection& bus, std::string iconThemePath,
                                       std::function<void()> onNoWatcher)
    : bus_(bus), iconThemePath_(std::move(iconThemePath)), onNoWatcher_(std::move(onNoWatcher)) {}

bool StatusNotifierItem::publish() {
    if (!bus_.exportObject(objectPath, [this](const bus::Message& call) { return answer(call); })) {
        return false;
    }
    // The name hosts know an item by: the process's id keeps two users' items apart.
    busName_ = std::string(interfaceName) + "-" + std::to_string(::getpid()) + "-1";
    if (!bus_.requestName(busName_)) {
        return false;
    }
    // A watcher that starts (or restarts, with a panel) after us must hear of the item.
    bus_.subscribe(std::string("type='signal',sender='org.freedesktop.DBus',"
                               "interface='org.freedesktop.DBus',member='NameOwnerChanged',"
                               "arg0='") +
                       watcherName + "'",
                   [this](const bus::Message& signal) { watcherChanged(signal); });
    registerWithWatcher();
    return true;
}

void StatusNotifierItem::registerWithWatcher() {
    bus_.call(watcherName, "/StatusNotifierWatcher", watcherName, "RegisterStatusNotifierItem",
              {Value::string(busName_)}, [this](const bus::Message& reply) {
                  registered_ = reply.type == bus::MessageType::methodReturn;
                  if (!registered_ && !toldNoWatcher_) {
                      toldNoWatcher_ = true;
                      if (onNoWatcher_) {
                          onNoWatcher_();
                      }
                  }
              });
}

void StatusNotifierItem::watcherChanged(const bus::Message& signal) {
    // NameOwnerChanged(name, old owner, new owner): a new owner is a new watcher.
    if (signal.body.size() == 3 && !signal.body[2].text.empty()) {
        registerWithWatcher();
    } else {
        registered_ = false;
    }
}

void StatusNotifierItem::setNeedsAttention(bool needsAttention) {
    const std::string status = needsAttention ? "NeedsAttention" : "Active";
    if (status == status_) {
        return;
    }
    status_ = status;
    bus_.emitSignal(objectPath, interfaceName, "NewStatus", {Value::string(status_)});
}

bus::Reply StatusNotifierItem::answer(const bus::Message& call) {
    const auto properties = [this] {
        const Value noPixmaps = Value::array("(iiay)");
        return PropertyList{
            {"Category", Value::string("ApplicationStatus")},
            {"Id", Value::string(iconName)},
            {"Title", Value::string(title)},
            {"Status", Value::string(status_)},
            {"WindowId", Value::int32(0)},
            {"IconName", Value::string(iconName)},
            {"IconThemePath", Value::string(iconThemePath_)},
            {"IconPixmap", noPixmaps},
            {"OverlayIconName", Value::string("")},
            {"AttentionIconName", Value::string(iconName)},
            {"AttentionIconPixmap", noPixmaps},
            {"ToolTip", Value::structure({Value::string(iconName), noPixmaps, Value::string(title),
                                          Value::string("")})},
            {"ItemIsMenu", Value::boolean(true)},
            {"Menu", Value::objectPath(DbusMenu::objectPath)},
        };
    };
    if (std::optional<bus::Reply> standard =
            answerStandardCall(call, {{interfaceName, itemMembers, properties}})) {
        return *standard;
    }
    if (call.interface == interfaceName &&
        (call.member == "ContextMenu" || call.member == "Activate" ||
         call.member == "SecondaryActivate" || call.member == "Scroll")) {
        // The item is a menu: hosts open it themselves, so a click has nothing more to do.
        return {};
    }
    return bus::Reply::unknownMethod(call);
}

}  // namespace pellvane::shell
