; The Windows installer, built on Linux by build.sh with Debian's makensis:
;   makensis -DLISTS=<folder> -DOUTFILE=<setup.exe> tarvo.nsi
; The folder holds identity.nsh (the project's title, version, maker and
; icon, written by CMake) and files.nsh/unfiles.nsh (the program folder's
; files, written by build.sh).
;
; It installs for the current user only, so no administrator rights are
; needed: the program folder goes under %LOCALAPPDATA%\Programs, the menu and
; log-in shortcuts into the user's own Start menu. Silent with /S (the log-in
; shortcut is then included). The uninstaller removes exactly the files it
; installed; the settings in the registry and the log beside the program stay.
;
; A running Tarvo is closed first, by the installer (an upgrade) and by the
; uninstaller alike, and after an upgrade started again. It is found by the
; mutex it holds, "Local\<title>", and asked to close through the named
; events beside it (server/shell/CloseRequests.h), so it ends through its own
; shutdown: a transfer's backup restored, the modem hung up, the port closed.
; With someone at the PC the user is asked first, and a call in progress is
; cut only if the user answers Tarvo's hang-up question Yes; silent, Tarvo is
; left SilentJobWait seconds to finish a running job and is then shut down.

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user

!include "${LISTS}/identity.nsh"
!include "MUI2.nsh"
!include "LogicLib.nsh"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${APP}"
!define MUTEX "Local\${APP}"
; Seconds: how long a close asked for interactively is waited for before the
; user is asked again; how long a silent close leaves a running job to end,
; and then how long the shutdown without questions may take.
!define CloseWait 30
!define SilentJobWait 120
!define SilentShutdownWait 30

Name "${APP} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\${APP}"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"

Var WasRunning ; 1 when a running Tarvo was closed

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "Start ${APP}"
!define MUI_FINISHPAGE_RUN_FUNCTION StartTarvo
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "${APP}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "${APP} Setup"
VIAddVersionKey /LANG=${LANG_ENGLISH} "CompanyName" "${COMPANY}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "${LEGAL_NOTICE}"

; The functions that find and close a running Tarvo, once for the installer
; and once (prefix "un.") for the uninstaller.
!macro TARVO_CLOSE_FUNCTIONS UN

; $0: 1 when Tarvo runs in this log-in session, else 0.
Function ${UN}TarvoRunning
    System::Call 'kernel32::OpenMutexW(i 0x00100000, i 0, w "${MUTEX}") p .r0'
    ${If} $0 == 0
        Return
    ${EndIf}
    System::Call 'kernel32::CloseHandle(p r0)'
    StrCpy $0 1
FunctionEnd

; Signals request $R1 (Close, CloseWhenIdle or CloseNow). $0: 1 when sent.
Function ${UN}AskTarvo
    System::Call 'kernel32::OpenEventW(i 0x0002, i 0, w "${MUTEX}.$R1") p .r0'
    ${If} $0 == 0
        Return
    ${EndIf}
    System::Call 'kernel32::SetEvent(p r0)'
    System::Call 'kernel32::CloseHandle(p r0)'
    StrCpy $0 1
FunctionEnd

; Sends request $R1 and waits up to $R2 seconds for Tarvo to end. A Tarvo
; that has only just started may not listen yet: the request goes out again
; until it has been taken. $0: 0 when Tarvo has ended, 1 when it still runs.
Function ${UN}AskTarvoAndWait
    StrCpy $R3 0
    IntOp $R4 $R2 * 4
    ${Do}
        ${If} $R3 == 0
            Call ${UN}AskTarvo
            StrCpy $R3 $0
        ${EndIf}
        Call ${UN}TarvoRunning
        ${If} $0 == 0
        ${OrIf} $R4 <= 0
            Return
        ${EndIf}
        Sleep 250
        IntOp $R4 $R4 - 1
    ${Loop}
FunctionEnd

; Closes a running Tarvo in order, or aborts. $WasRunning: 1 when it ran.
Function ${UN}CloseTarvo
    StrCpy $WasRunning 0
    Call ${UN}TarvoRunning
    ${If} $0 == 0
        Return
    ${EndIf}
    StrCpy $WasRunning 1
    ${If} ${Silent}
        DetailPrint "Closing ${APP} once its running job, if any, has ended"
        StrCpy $R1 CloseWhenIdle
        StrCpy $R2 ${SilentJobWait}
        Call ${UN}AskTarvoAndWait
        ${If} $0 == 1
            DetailPrint "Shutting ${APP} down"
            StrCpy $R1 CloseNow
            StrCpy $R2 ${SilentShutdownWait}
            Call ${UN}AskTarvoAndWait
        ${EndIf}
        ${If} $0 == 1
            DetailPrint "${APP} did not close"
            Abort ; exit status 2
        ${EndIf}
    ${Else}
        MessageBox MB_OKCANCEL|MB_ICONINFORMATION "${APP} is running and must be closed to go on.$\r$\n$\r$\nIf a call is in progress, ${APP} asks whether to hang up; answered No, it closes once the call's job is done.$\r$\n$\r$\nClose ${APP} now?" IDOK close
        Abort
      close:
        ; Tarvo's own question about a call may then come to the front.
        System::Call 'user32::AllowSetForegroundWindow(i -1)'
        DetailPrint "Closing ${APP}"
      ask:
        StrCpy $R1 Close
        StrCpy $R2 ${CloseWait}
        Call ${UN}AskTarvoAndWait
        ${If} $0 == 1
            MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "${APP} is still running: it may be finishing a call's job, or waiting for an answer in its window.$\r$\n$\r$\nRetry to wait for it again, or Cancel." IDRETRY ask
            Abort
        ${EndIf}
    ${EndIf}
    ; The process ends a moment after it has let its mutex go: wait until its
    ; program file can be written.
    ${If} ${FileExists} "$INSTDIR\tarvo.exe"
        StrCpy $R4 40
        ${Do}
            ClearErrors
            FileOpen $R5 "$INSTDIR\tarvo.exe" a
            ${IfNot} ${Errors}
                FileClose $R5
                ${Break}
            ${EndIf}
            ${If} $R4 <= 0
                ${Break}
            ${EndIf}
            Sleep 250
            IntOp $R4 $R4 - 1
        ${Loop}
    ${EndIf}
FunctionEnd

!macroend
!insertmacro TARVO_CLOSE_FUNCTIONS ""
!insertmacro TARVO_CLOSE_FUNCTIONS "un."

Function StartTarvo
    SetOutPath "$INSTDIR"
    Exec '"$INSTDIR\tarvo.exe"'
FunctionEnd

Function .onInit
    SetShellVarContext current
FunctionEnd

Function un.onInit
    SetShellVarContext current
FunctionEnd

Section "${APP}" SecProgram
    SectionIn RO
    Call CloseTarvo
    !include "${LISTS}/files.nsh"
    SetOutPath "$INSTDIR"
    WriteUninstaller "$INSTDIR\Uninstall.exe"
    CreateShortCut "$SMPROGRAMS\${APP}.lnk" "$INSTDIR\tarvo.exe"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${APP}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\tarvo.exe,0"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${COMPANY}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
    ; In KiB, as Add/Remove Programs reads it: the program folder's files.
    SectionGetSize ${SecProgram} $0
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; An unattended PC should be answering calls again after a restart.
Section "Start at log-in" SecAutostart
    CreateShortCut "$SMSTARTUP\${APP}.lnk" "$INSTDIR\tarvo.exe"
SectionEnd

; Silent, a Tarvo that was running before the upgrade is started again; with
; someone at the PC the finish page's "Start Tarvo" does it.
Function .onInstSuccess
    ${If} ${Silent}
    ${AndIf} $WasRunning == 1
        Call StartTarvo
    ${EndIf}
FunctionEnd

Section "Uninstall"
    Call un.CloseTarvo
    !include "${LISTS}/unfiles.nsh"
    Delete "$INSTDIR\Uninstall.exe"
    ; Stays when the log (or anything the user put there) is left in it.
    RMDir "$INSTDIR"
    Delete "$SMPROGRAMS\${APP}.lnk"
    Delete "$SMSTARTUP\${APP}.lnk"
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
