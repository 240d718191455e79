; The Pellvane Server installer. Built by the `installer` target of the Windows build, which
; passes VERSION, VERSION_QUAD, PUBLISHER, SERVER_EXE, PAD_EXE, ICON and OUTFILE.
;
; Per machine: the programs go to Program Files, where only an administrator may change them,
; since the firewall rule lets the network reach whatever file has that path; adding the rule
; needs an administrator anyway. Per user (the user who installs): the Start-menu entry, the
; sign-in entry and the program's working folder in the user's local application data, where
; the program may write its marker file. A Run value in the registry cannot set a working
; folder; a shortcut can, so both entries are shortcuts.
Unicode true
Target amd64-unicode
RequestExecutionLevel admin
ManifestDPIAware true
SetCompressor /SOLID lzma

!include FileFunc.nsh
!include LogicLib.nsh
!include MUI2.nsh
!include WinMessages.nsh

!define PRODUCT "Pellvane Server"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\PellvaneServer"
!define FIREWALL_RULE "Pellvane Server"
!define DATA_FOLDER "$LOCALAPPDATA\Pellvane Server"
!define SHORTCUT "Pellvane Server.lnk"
!define MARKER_FILE "quibdeverr.ini"
; The program's hidden window and the command of its tray menu's Quit.
!define WINDOW_CLASS "PELLVANE"
!define QUIT_COMMAND 106

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${VERSION}"

VIProductVersion "${VERSION_QUAD}"
VIFileVersion "${VERSION_QUAD}"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright (C) 2026 ${PUBLISHER}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_COMPONENTSPAGE_NODESC
!define MUI_FINISHPAGE_TEXT "${PRODUCT} is installed. Start it from the Start menu; it also starts whenever you sign in, if you chose so."
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; Quits every running copy that this desktop shows, as the tray menu's Quit does, and waits
; for its process to end: until then its program file and its working folder cannot be
; replaced or removed. Gives up on a copy after ten seconds (it may wait for an answer to its
; connection question), and after ten copies.
!define SYNCHRONIZE 0x00100000
!macro DEFINE_QUIT_PROGRAM prefix
Function ${prefix}QuitProgram
    StrCpy $4 0
    ${Do}
        FindWindow $0 "${WINDOW_CLASS}"
        ${If} $0 == 0
        ${OrIf} $4 >= 10
            ${Break}
        ${EndIf}
        DetailPrint "Quitting the running ${PRODUCT}"
        System::Call 'user32::GetWindowThreadProcessId(p r0, *i .r1) i'
        System::Call 'kernel32::OpenProcess(i ${SYNCHRONIZE}, i 0, i r1) p .r2'
        SendMessage $0 ${WM_COMMAND} ${QUIT_COMMAND} 0 /TIMEOUT=1000
        ${If} $2 != 0
            System::Call 'kernel32::WaitForSingleObject(p r2, i 10000) i .r3'
            System::Call 'kernel32::CloseHandle(p r2)'
        ${Else}
            Sleep 1000
        ${EndIf}
        IntOp $4 $4 + 1
    ${Loop}
FunctionEnd
!macroend
!insertmacro DEFINE_QUIT_PROGRAM ""
!insertmacro DEFINE_QUIT_PROGRAM "un."

; Runs netsh without a console window; a failure is reported in the details and the
; installation goes on: the program works without the rule, Windows then asks on the first
; connection.
!macro FIREWALL arguments
    nsExec::Exec '"$SYSDIR\netsh.exe" advfirewall firewall ${arguments}'
    Pop $0
    ${If} $0 != 0
        DetailPrint `netsh advfirewall firewall ${arguments}: exit code $0`
    ${EndIf}
!macroend

Section "${PRODUCT}" SectionProgram
    SectionIn RO
    SetShellVarContext current
    SetRegView 64
    Call QuitProgram

    SetOutPath "$INSTDIR"
    File "/oname=pellvane-server.exe" "${SERVER_EXE}"
    File "/oname=pellvane-pad.exe" "${PAD_EXE}"
    WriteUninstaller "$INSTDIR\uninstall.exe"

    ; Shortcuts take their working folder from the output path.
    CreateDirectory "${DATA_FOLDER}"
    SetOutPath "${DATA_FOLDER}"
    CreateShortCut "$SMPROGRAMS\${SHORTCUT}" "$INSTDIR\pellvane-server.exe" "" \
        "$INSTDIR\pellvane-server.exe" 0 SW_SHOWNORMAL "" "Use a pad app as keyboard and gamepad"
    ; Made again below when chosen.
    Delete "$SMSTARTUP\${SHORTCUT}"

    ; Inbound, for this program only, on private networks only (home and work, not a café).
    !insertmacro FIREWALL 'delete rule name="${FIREWALL_RULE}"'
    !insertmacro FIREWALL 'add rule name="${FIREWALL_RULE}" dir=in action=allow program="$INSTDIR\pellvane-server.exe" enable=yes profile=private protocol=TCP'
    !insertmacro FIREWALL 'add rule name="${FIREWALL_RULE}" dir=in action=allow program="$INSTDIR\pellvane-server.exe" enable=yes profile=private protocol=UDP'

    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\pellvane-server.exe,0"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section "Start ${PRODUCT} when I sign in" SectionSignIn
    SetShellVarContext current
    SetOutPath "${DATA_FOLDER}"
    CreateShortCut "$SMSTARTUP\${SHORTCUT}" "$INSTDIR\pellvane-server.exe" "" \
        "$INSTDIR\pellvane-server.exe" 0 SW_SHOWNORMAL "" "Use a pad app as keyboard and gamepad"
SectionEnd

Section "Uninstall"
    SetShellVarContext current
    SetRegView 64
    Call un.QuitProgram

    !insertmacro FIREWALL 'delete rule name="${FIREWALL_RULE}"'
    Delete "$SMPROGRAMS\${SHORTCUT}"
    Delete "$SMSTARTUP\${SHORTCUT}"
    Delete "$INSTDIR\pellvane-server.exe"
    Delete "$INSTDIR\pellvane-pad.exe"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
    ; The marker file is the program's only trace; the folder goes unless the user put
    ; something else there.
    Delete "${DATA_FOLDER}\${MARKER_FILE}"
    RMDir "${DATA_FOLDER}"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
