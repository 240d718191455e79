// The tray program's window, menu, tray record and resources, run in-process under Wine
// against the real user32 and shell: what the end-to-end cases cannot look into.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "shell/win32/about_box.h"
#include "shell/win32/main_window.h"
#include "shell/win32/resource_ids.h"
#include "shell/win32/tray_icon.h"
#include "shell/win32/tray_menu.h"

namespace pellvane::shell::win32 {
namespace {

class RecordingActions final : public TrayActions {
  public:
    std::uint16_t channelPort() const override { return port; }
    bool padClientConnected() const override { return connected; }
    void disconnect() override { ++disconnects; }

    std::uint16_t port = 0;
    bool connected = false;
    int disconnects = 0;
};

struct MenuItem {
    UINT id;
    UINT state;
    std::wstring text;
};

std::vector<MenuItem> menuItems(HMENU menu) {
    std::vector<MenuItem> items;
    const int count = ::GetMenuItemCount(menu);
    for (int position = 0; position < count; ++position) {
        wchar_t text[256] = {};
        ::GetMenuStringW(menu, position, text, 256, MF_BYPOSITION);
        items.push_back(
            {::GetMenuItemID(menu, position), ::GetMenuState(menu, position, MF_BYPOSITION), text});
    }
    return items;
}

// Asks the shell whether it holds icon 0 of `window`: modifying succeeds only then.
bool shellHoldsIcon(HWND window) {
    NOTIFYICONDATAW probe{};
    probe.cbSize = NOTIFYICONDATAW_V1_SIZE;
    probe.hWnd = window;
    probe.uID = trayIconId;
    return ::Shell_NotifyIconW(NIM_MODIFY, &probe) != FALSE;
}

HINSTANCE thisModule() {
    return ::GetModuleHandleW(nullptr);
}

TEST(TrayMenu, WithoutClientsHoldsThePortLineTheSeparatorAndQuit) {
    HMENU menu = buildTrayMenu({4321, false});
    ASSERT_NE(menu, nullptr);
    const auto items = menuItems(menu);
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0].id, static_cast<UINT>(IDM_CHANNEL_PORT));
    EXPECT_EQ(items[0].text, L"Channel server port: 4321");
    EXPECT_TRUE(items[0].state & MF_GRAYED) << "the port line is never chosen";
    EXPECT_TRUE(items[1].state & MF_SEPARATOR);
    EXPECT_EQ(items[2].id, static_cast<UINT>(IDM_EXIT));
    EXPECT_EQ(items[2].text, L"&Quit");
    EXPECT_FALSE(items[2].state & MF_GRAYED);
    ::DestroyMenu(menu);
}

TEST(TrayMenu, OffersDisconnectBeforeQuitWhileAPadClientIsThere) {
    HMENU menu = buildTrayMenu({4321, true});
    ASSERT_NE(menu, nullptr);
    const auto items = menuItems(menu);
    ASSERT_EQ(items.size(), 4u);
    EXPECT_EQ(items[2].id, static_cast<UINT>(IDM_DISCONNECT));
    EXPECT_EQ(items[2].text, L"&Disconnect");
    EXPECT_EQ(items[3].id, static_cast<UINT>(IDM_EXIT));
    ::DestroyMenu(menu);
}

TEST(TrayMenu, ShowsThePortAsAnUnsignedNumber) {
    for (const auto& [port, text] :
         {std::pair{std::uint16_t{0}, L"Channel server port: 0"},
          std::pair{std::uint16_t{65535}, L"Channel server port: 65535"}}) {
        HMENU menu = buildTrayMenu({port, false});
        ASSERT_NE(menu, nullptr);
        EXPECT_EQ(menuItems(menu)[0].text, text);
        ::DestroyMenu(menu);
    }
}

TEST(TrayMenu, AlignsAsTheSystemDropsMenus) {
    EXPECT_EQ(trayMenuTrackFlags(0), 2u);
    EXPECT_EQ(trayMenuTrackFlags(1), 10u);
}

TEST(TrayIconRecord, IsTheFirstVersionWithMessageIconTipAndGuid) {
    TrayIcon icon;
    HWND window = reinterpret_cast<HWND>(0x1234);
    HICON small = ::LoadIconW(thisModule(), MAKEINTRESOURCEW(IDI_SMALL));
    icon.prepare(window, small, L"Pellvane Server");
    const NOTIFYICONDATAW& record = icon.record();
    EXPECT_EQ(record.cbSize, 168u) << "the 64-bit Unicode first version";
    EXPECT_EQ(record.hWnd, window);
    EXPECT_EQ(record.uID, 0u);
    EXPECT_EQ(record.uFlags, 0x27u);
    EXPECT_EQ(record.uCallbackMessage, 1337u);
    EXPECT_EQ(record.hIcon, small);
    EXPECT_STREQ(record.szTip, L"Pellvane Server");
    EXPECT_TRUE(IsEqualGUID(record.guidItem, trayIconGuid));
}

TEST(TrayIconRecord, CutsALongTipInsideItsField) {
    TrayIcon icon;
    const std::wstring longTip(200, L'x');
    icon.prepare(nullptr, nullptr, longTip.c_str());
    EXPECT_EQ(std::wstring(icon.record().szTip), std::wstring(127, L'x'));
}

TEST(Resources, HoldTheTitleAndClassStrings) {
    loadWindowTexts(thisModule());
    EXPECT_STREQ(windowTitle(), L"Pellvane Server");
    EXPECT_STREQ(windowClassName(), L"PELLVANE");
}

TEST(Resources, HoldTheIconsInTheirSizes) {
    for (const auto& [id, size] :
         {std::pair{IDI_PELLVANE, 32}, std::pair{IDI_PELLVANE, 48}, std::pair{IDI_SMALL, 16}}) {
        HICON icon = static_cast<HICON>(
            ::LoadImageW(thisModule(), MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, 0));
        ASSERT_NE(icon, nullptr) << id << " at " << size;
        ICONINFO info{};
        ASSERT_TRUE(::GetIconInfo(icon, &info));
        BITMAP bitmap{};
        ::GetObjectW(info.hbmColor, sizeof(bitmap), &bitmap);
        EXPECT_EQ(bitmap.bmWidth, size);
        EXPECT_EQ(bitmap.bmBitsPixel, 32) << "drawn with an alpha channel";
        ::DeleteObject(info.hbmColor);
        ::DeleteObject(info.hbmMask);
        ::DestroyIcon(icon);
    }
}

TEST(Resources, GiveAltQuestionMarkAndAltSlashToTheAboutBox) {
    HACCEL table = ::LoadAcceleratorsW(thisModule(), MAKEINTRESOURCEW(IDC_PELLVANE));
    ASSERT_NE(table, nullptr);
    ACCEL entries[4] = {};
    ASSERT_EQ(::CopyAcceleratorTableW(table, entries, 4), 2);
    for (const ACCEL& entry : entries) {
        if (entry.cmd == 0) {
            continue;
        }
        EXPECT_EQ(entry.cmd, IDM_ABOUT);
        EXPECT_EQ(entry.fVirt & FVIRTKEY, 0) << "character keys, not virtual keys";
        EXPECT_TRUE(entry.fVirt & FALT);
    }
    EXPECT_EQ(entries[0].key, '?');
    EXPECT_EQ(entries[1].key, '/');
}

TEST(Resources, EmbedTheManifestThatRunsAsInvoker) {
    HRSRC found = ::FindResourceW(nullptr, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    ASSERT_NE(found, nullptr);
    const char* text = static_cast<const char*>(::LockResource(::LoadResource(nullptr, found)));
    const std::string manifest(text, ::SizeofResource(nullptr, found));
    EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos);
    EXPECT_NE(manifest.find("uiAccess=\"false\""), std::string::npos);
}

TEST(Resources, HoldTheWindowMenu) {
    HMENU menu = ::LoadMenuW(thisModule(), MAKEINTRESOURCEW(IDC_PELLVANE));
    ASSERT_NE(menu, nullptr);
    wchar_t text[64] = {};
    ::GetMenuStringW(menu, 0, text, 64, MF_BYPOSITION);
    EXPECT_STREQ(text, L"&File");
    EXPECT_EQ(menuItems(::GetSubMenu(menu, 0))[0].id, static_cast<UINT>(IDM_EXIT));
    EXPECT_EQ(menuItems(::GetSubMenu(menu, 0))[0].text, L"&Esci");
    EXPECT_EQ(menuItems(::GetSubMenu(menu, 1))[0].id, static_cast<UINT>(IDM_ABOUT));
    EXPECT_EQ(menuItems(::GetSubMenu(menu, 1))[0].text, L"&Informazioni su...");
    ::DestroyMenu(menu);
}

TEST(AboutBox, ShowsTheVersionAndEndsWithOkOrCancel) {
    HWND dialog = ::CreateDialogParamW(thisModule(), MAKEINTRESOURCEW(IDD_ABOUTBOX), nullptr,
                                       aboutDialogProc, 0);
    ASSERT_NE(dialog, nullptr);
    wchar_t text[128] = {};
    ::GetWindowTextW(dialog, text, 128);
    EXPECT_STREQ(text, L"Informazioni su Pellvane");
    ASSERT_NE(::GetDlgItem(dialog, IDOK), nullptr);
    EXPECT_EQ(aboutDialogProc(dialog, WM_COMMAND, IDOK, 0), TRUE);
    EXPECT_EQ(aboutDialogProc(dialog, WM_COMMAND, IDCANCEL, 0), TRUE);
    EXPECT_EQ(aboutDialogProc(dialog, WM_COMMAND, IDM_ABOUT, 0), FALSE);
    EXPECT_EQ(aboutDialogProc(dialog, WM_INITDIALOG, 0, 0), TRUE);
    ::DestroyWindow(dialog);
}

// The hidden window over recorded actions: commands, tray events and the shell's restart.
class MainWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        loadWindowTexts(thisModule());
        registerWindowClass(thisModule());
        ASSERT_TRUE(createMainWindow(thisModule(), actions));
        window = ::FindWindowW(L"PELLVANE", L"Pellvane Server");
        ASSERT_NE(window, nullptr);
    }

    void TearDown() override {
        removeTrayIcon();
        if (window != nullptr && ::IsWindow(window)) {
            ::DestroyWindow(window);
        }
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        }
    }

    RecordingActions actions;
    HWND window = nullptr;
};

TEST_F(MainWindowTest, IsHiddenAndShowsItsIconInTheTray) {
    EXPECT_FALSE(::IsWindowVisible(window));
    EXPECT_TRUE(shellHoldsIcon(window));
    removeTrayIcon();
    EXPECT_FALSE(shellHoldsIcon(window));
}

TEST_F(MainWindowTest, DisconnectCommandReachesThePadService) {
    ::SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDM_DISCONNECT, 0), 0);
    EXPECT_EQ(actions.disconnects, 1);
    EXPECT_TRUE(::IsWindow(window));
}

TEST_F(MainWindowTest, QuitCommandDestroysTheWindowAndPostsQuitWithCodeZero) {
    ::SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDM_EXIT, 0), 0);
    EXPECT_FALSE(::IsWindow(window));
    MSG message{};
    bool quit = false;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            quit = true;
            EXPECT_EQ(message.wParam, 0u);
        }
    }
    EXPECT_TRUE(quit);
}

TEST_F(MainWindowTest, IgnoresTrayEventsThatDoNotOpenTheMenu) {
    for (LPARAM event : {WM_MOUSEMOVE, WM_LBUTTONDBLCLK, WM_LBUTTONDOWN, WM_RBUTTONDOWN}) {
        EXPECT_EQ(::SendMessageW(window, trayCallbackMessage, 0, event), 0);
    }
    EXPECT_EQ(actions.disconnects, 0);
    EXPECT_TRUE(::IsWindow(window));
}

TEST_F(MainWindowTest, AddsTheIconAgainWhenTheShellRestarts) {
    TrayIcon lost;
    lost.prepare(window, nullptr, L"");
    ASSERT_TRUE(lost.remove());
    ASSERT_FALSE(shellHoldsIcon(window));
    ::SendMessageW(window, ::RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
    EXPECT_TRUE(shellHoldsIcon(window));
}

}  // namespace
}  // namespace pellvane::shell::win32
