; The Windows installer, built on Linux by build.sh with Debian's makensis:
;   makensis -DVERSION=x.y.z -DLISTS=<folder with files.nsh, unfiles.nsh> -DOUTFILE=<setup.exe> tarvo.nsi
;
; It installs for the current user only, so no administrator rights are
; needed: the program folder goes under %LOCALAPPDATA%\Programs, the menu and
; log-in shortcuts into the user's own Start menu. Silent with /S (the log-in
; shortcut is then included). The uninstaller removes exactly the files it
; installed; the settings in the registry and the log beside the program stay.

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user

!define APP "Tarvo"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${APP}"

Name "${APP} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\${APP}"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"

Page components
Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Function .onInit
    SetShellVarContext current
FunctionEnd

Function un.onInit
    SetShellVarContext current
FunctionEnd

Section "${APP}" SecProgram
    SectionIn RO
    !include "${LISTS}/files.nsh"
    SetOutPath "$INSTDIR"
    WriteUninstaller "$INSTDIR\Uninstall.exe"
    CreateShortCut "$SMPROGRAMS\${APP}.lnk" "$INSTDIR\tarvo.exe"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${APP}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "The Tarvo developers"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; An unattended PC should be answering calls again after a restart.
Section "Start at log-in" SecAutostart
    CreateShortCut "$SMSTARTUP\${APP}.lnk" "$INSTDIR\tarvo.exe"
SectionEnd

Section "Uninstall"
    !include "${LISTS}/unfiles.nsh"
    Delete "$INSTDIR\Uninstall.exe"
    ; Stays when the log (or anything the user put there) is left in it.
    RMDir "$INSTDIR"
    Delete "$SMPROGRAMS\${APP}.lnk"
    Delete "$SMSTARTUP\${APP}.lnk"
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
