// What the tray menu holds on a Linux desktop, from what the program knows at the moment: the
// items of the Windows tray menu and window menu (the channel port, Disconnect, About, Quit),
// who is connected, the open question as two items that answer it, and Start at login.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pellvane::shell {

enum class MenuCommand { none, allow, refuse, disconnect, startAtLogin, about, quit };

// The item ids stay the same from one layout to the next: a host that kept an id while the
// menu changed still reaches the same command, or nothing.
enum MenuItemId : std::int32_t {
    aboutItem = 104,
    disconnectItem = 105,
    quitItem = 106,
    portLineItem = 200,
    separatorItem = 201,
    statusLineItem = 300,
    allowItem = 301,
    refuseItem = 302,
    questionSeparatorItem = 303,
    startAtLoginItem = 304,
    commandSeparatorItem = 305,
};

struct ConnectedPad {
    std::string name;     // as the device gave it
    std::string address;  // its host, as text
};

struct TrayState {
    std::uint16_t channelPort = 0;
    bool padClientConnected = false;            // pending or admitted
    std::vector<ConnectedPad> pads;             // admitted
    std::optional<std::string> questionDevice;  // the device an open question asks about
    bool startAtLogin = false;
    friend bool operator==(const TrayState&, const TrayState&) = default;
};

struct MenuItem {
    std::int32_t id = 0;
    // With "_" before the access key, and "__" for an underscore of its own.
    std::string label;
    bool enabled = true;
    bool separator = false;
    bool checkmark = false;  // a check item; `checked` is its state
    bool checked = false;
    MenuCommand command = MenuCommand::none;
    friend bool operator==(const MenuItem&, const MenuItem&) = default;
};

std::vector<MenuItem> desktopMenuItems(const TrayState& state);
// The command behind an item id of the layout `items`; none for anything else.
MenuCommand commandOf(const std::vector<MenuItem>& items, std::int32_t id);

// A label written with "&" before its access key, as Windows menus are, with "_" instead.
std::string accessKeyLabel(const std::string& windowsLabel);
// A device's name fit for a menu label: valid UTF-8, controls escaped, "_" doubled.
std::string deviceLabel(const std::string& name);

}  // namespace pellvane::shell
