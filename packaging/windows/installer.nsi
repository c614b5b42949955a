; The Windows installer of the Vela firmware updater, made by
; `scripts/package.sh windows`, which stages `cmake --install` of the Windows
; build and defines on the command line:
;   VERSION   the project's version (1.0.0)
;   OUTFILE   the installer to write
;   FILES     an include with SetOutPath and File lines for the staged tree
;   UNFILES   an include with the matching Delete and RMDir lines
;   LICENSE   the staged LICENSE.txt (CR LF), shown on the first page
; Whatever the install rules stage is shipped, so a new program of the suite
; needs no line here; only Updater.exe gets a Start-menu entry.

Unicode true
; A 64-bit installer: it runs where the 64-bit program does, and sees the
; 64-bit Program Files folder and registry without redirection.
Target amd64-unicode
SetCompressor /SOLID lzma

!define PRODUCT "Vela Firmware Updater"
!define PUBLISHER "Orvane"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\VelaFirmwareUpdater"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PUBLISHER}\${PRODUCT}"
; Program Files and the machine's uninstall list need an administrator; the
; installed Updater.exe keeps its own manifest and runs asInvoker.
RequestExecutionLevel admin
Icon "${ICON}"
UninstallIcon "${ICON}"

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "${PUBLISHER}"

; The licence first. The GPL asks for no acceptance to install or run the
; program, so the page informs and its button only goes on.
LicenseData "${LICENSE}"
LicenseText "Free software under the GNU GPL, version 3 or later: you need not accept it to install or use the program." "$(^NextBtn)"
Page license
Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Install"
    SetShellVarContext all
    SetRegView 64
    !include "${FILES}"
    SetOutPath "$INSTDIR"
    WriteUninstaller "$INSTDIR\Uninstall.exe"
    CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\Updater.exe" "" "$INSTDIR\Updater.exe" 0

    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Updater.exe,0"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" ${SIZE_KB}
SectionEnd

Section "Uninstall"
    SetShellVarContext all
    SetRegView 64
    ; Only what the installer put there: a folder the user chose may hold
    ; other files, so nothing is removed by wildcard and folders only when empty.
    !include "${UNFILES}"
    Delete "$INSTDIR\Uninstall.exe"
    RMDir "$INSTDIR"
    ; The publisher's folder of the default place, when nothing else is in it.
    RMDir "$PROGRAMFILES64\${PUBLISHER}"
    Delete "$SMPROGRAMS\${PRODUCT}.lnk"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
