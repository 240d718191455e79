// Resource and command ids shared by the resource script and the window code. Plain
// #defines, because the resource compiler reads this file too.
#pragma once

// Strings: the window title (also the caption of every message box) and the class name.
#define IDS_APP_TITLE 103
#define IDC_PELLVANE 109  // the class-name string, the window menu and the accelerators

#define IDD_ABOUTBOX 103
#define IDI_PELLVANE 107  // large icon: the window class icon
#define IDI_SMALL 108     // small icon: the class small icon and the tray icon

// Commands of the window menu, the accelerators and the tray menu.
#define IDM_ABOUT 104
#define IDM_DISCONNECT 105
#define IDM_EXIT 106
#define IDM_CHANNEL_PORT 200  // the tray menu's disabled port line
#define IDM_SEPARATOR 201

#define IDC_STATIC -1
