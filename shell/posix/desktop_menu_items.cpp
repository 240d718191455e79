#include "shell/posix/desktop_menu_items.h"

#include <cstdio>

#include "platform/posix/utf8_text.h"
#include "platform/printable_text.h"

namespace pellvane::shell {
namespace {

// A status line this long is shortened: a menu is no place for an essay.
constexpr std::size_t statusLineLimit = 200;

MenuItem disabledLine(std::int32_t id, std::string label) {
    MenuItem item;
    item.id = id;
    item.label = std::move(label);
    item.enabled = false;
    return item;
}

MenuItem separator(std::int32_t id) {
    MenuItem item;
    item.id = id;
    item.separator = true;
    return item;
}

MenuItem command(std::int32_t id, std::string label, MenuCommand what) {
    MenuItem item;
    item.id = id;
    item.label = std::move(label);
    item.command = what;
    return item;
}

std::string portLine(std::uint16_t port) {
    char line[64];
    std::snprintf(line, sizeof line, "Channel server port: %d", static_cast<int>(port));
    return line;
}

// Cuts at a character boundary, as the label is UTF-8.
std::string shortened(std::string text) {
    if (text.size() <= statusLineLimit) {
        return text;
    }
    std::size_t cut = statusLineLimit;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) {
        --cut;
    }
    text.resize(cut);
    return text + "...";
}

std::string statusLine(const std::vector<ConnectedPad>& pads) {
    if (pads.empty()) {
        return "No pad connected";
    }
    std::string line = pads.size() == 1 ? "Connected pad: " : "Connected pads: ";
    for (std::size_t i = 0; i < pads.size(); ++i) {
        if (i > 0) {
            line += ", ";
        }
        line += deviceLabel(pads[i].name) + " (" + pads[i].address + ")";
    }
    return shortened(line);
}

}  // namespace

std::string accessKeyLabel(const std::string& windowsLabel) {
    std::string label;
    for (std::size_t i = 0; i < windowsLabel.size(); ++i) {
        const char c = windowsLabel[i];
        if (c == '&' && i + 1 < windowsLabel.size() && windowsLabel[i + 1] == '&') {
            label.push_back('&');
            ++i;
        } else if (c == '&') {
            label.push_back('_');
        } else if (c == '_') {
            label += "__";
        } else {
            label.push_back(c);
        }
    }
    return label;
}

std::string deviceLabel(const std::string& name) {
    const std::string printable = printableText(posix::validUtf8(name));
    std::string label;
    for (char c : printable) {
        if (c == '_') {
            label.push_back('_');
        }
        label.push_back(c);
    }
    return label;
}

std::vector<MenuItem> desktopMenuItems(const TrayState& state) {
    std::vector<MenuItem> items;
    if (state.questionDevice) {
        const std::string device = deviceLabel(*state.questionDevice);
        items.push_back(command(allowItem, "Allow " + device, MenuCommand::allow));
        items.push_back(command(refuseItem, "Refuse " + device, MenuCommand::refuse));
        items.push_back(separator(questionSeparatorItem));
    }
    items.push_back(disabledLine(portLineItem, portLine(state.channelPort)));
    items.push_back(disabledLine(statusLineItem, statusLine(state.pads)));
    items.push_back(separator(separatorItem));
    if (state.padClientConnected) {
        items.push_back(
            command(disconnectItem, accessKeyLabel("&Disconnect"), MenuCommand::disconnect));
    }
    MenuItem login = command(startAtLoginItem, "Start at _login", MenuCommand::startAtLogin);
    login.checkmark = true;
    login.checked = state.startAtLogin;
    items.push_back(login);
    items.push_back(command(aboutItem, accessKeyLabel("&Informazioni su..."), MenuCommand::about));
    items.push_back(separator(commandSeparatorItem));
    items.push_back(command(quitItem, accessKeyLabel("&Quit"), MenuCommand::quit));
    return items;
}

MenuCommand commandOf(const std::vector<MenuItem>& items, std::int32_t id) {
    for (const MenuItem& item : items) {
        if (item.id == id) {
            return item.enabled ? item.command : MenuCommand::none;
        }
    }
    return MenuCommand::none;
}

}  // namespace pellvane::shell
