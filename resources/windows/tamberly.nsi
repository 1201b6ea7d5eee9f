; The Windows installer: makensis -DEXE=... -DREADME=... -DICON=... -DOUTFILE=... tamberly.nsi
; Installs tamberly.exe with a Start-menu entry, optionally starts it with Windows, and registers an uninstaller.
; Silent: Tamberly-setup.exe /S [/STARTUP=1] [/D=folder]; the uninstaller: uninstall.exe /S
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma

!include "FileFunc.nsh"
!include "LogicLib.nsh"
!include "Sections.nsh"
!include "x64.nsh"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Tamberly"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"

Name "Tamberly"
OutFile "${OUTFILE}"
Icon "${ICON}"
UninstallIcon "${ICON}"
InstallDir "$PROGRAMFILES64\Tamberly"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel admin
ShowInstDetails show

Page components
Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Tamberly (required)" SecMain
    SectionIn RO
    SetRegView 64
    SetOutPath "$INSTDIR"
    File "/oname=tamberly.exe" "${EXE}"
    File "/oname=README.txt" "${README}"
    WriteUninstaller "$INSTDIR\uninstall.exe"
    ; The Start menu of every user, as the program is installed for every user.
    SetShellVarContext all
    CreateDirectory "$SMPROGRAMS\Tamberly"
    CreateShortcut "$SMPROGRAMS\Tamberly\Tamberly.lnk" "$INSTDIR\tamberly.exe"
    CreateShortcut "$SMPROGRAMS\Tamberly\Uninstall Tamberly.lnk" "$INSTDIR\uninstall.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Tamberly"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\tamberly.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Off unless chosen: on the components page, or /STARTUP=1 on the command line.
Section /o "Start with Windows" SecStartup
    ; Hidden, as the program's own "Start with the session" writes it: the session start goes to the tray.
    WriteRegStr HKCU "${RUN_KEY}" "Tamberly" '"$INSTDIR\tamberly.exe" --hidden'
SectionEnd

Function .onInit
    ${If} ${RunningX64}
        SetRegView 64
    ${EndIf}
    ${GetParameters} $0
    ${GetOptions} $0 "/STARTUP=" $1
    ${If} $1 == "1"
        !insertmacro SelectSection ${SecStartup}
    ${EndIf}
FunctionEnd

Function un.onInit
    SetRegView 64
FunctionEnd

Section "Uninstall"
    ; The settings file beside the program is the user's: it stays, and with it the folder.
    Delete "$INSTDIR\tamberly.exe"
    Delete "$INSTDIR\README.txt"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
    SetShellVarContext all
    Delete "$SMPROGRAMS\Tamberly\Tamberly.lnk"
    Delete "$SMPROGRAMS\Tamberly\Uninstall Tamberly.lnk"
    RMDir "$SMPROGRAMS\Tamberly"
    DeleteRegValue HKCU "${RUN_KEY}" "Tamberly"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
