; The Windows installer, built on Linux by build.sh with Debian's makensis:
;   makensis -DLISTS=<folder> -DOUTFILE=<setup.exe> tarvo.nsi
; The folder holds identity.nsh (the project's title, version, maker and
; icon, written by CMake) and files.nsh/unfiles.nsh (the program folder's
; files, written by build.sh).
;
; By default it installs for the current user only, so no administrator
; rights are needed: the program folder goes under %LOCALAPPDATA%\Programs,
; the menu and log-in shortcuts into the user's own Start menu. Silent with
; /S (the log-in shortcut is then included). The uninstaller removes exactly
; the files it installed; the settings in the registry and the log beside the
; program stay.
;
; With /AllUsers it installs for the whole PC (service.nsh): an administrator
; only, into Program Files, shortcuts for all users, the uninstall entry under
; HKLM, and tarvod.exe registered and started as the Windows service that
; answers calls with nobody logged in. A silent install on a PC that has this
; per-machine install upgrades that one, /AllUsers given or not.
;
; A running Tarvo is closed first, by the installer (an upgrade) and by the
; uninstaller alike, and after an upgrade started again. It is found by the
; mutex it holds, "Local\<title>", and asked to close through the named
; events beside it (server/shell/CloseRequests.h), so it ends through its own
; shutdown: a transfer's backup restored, the modem hung up, the port closed.
; With someone at the PC the user is asked first, and a call in progress is
; cut only if the user answers Tarvo's hang-up question Yes; silent, Tarvo is
; left SilentJobWait seconds to finish a running job and is then shut down.
; The service, where there is one, is closed the same way before the trays.

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user

!include "${LISTS}/identity.nsh"
!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"

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
Var AllUsers ; 1 for the per-machine install, 0 for the current user's

!include "service.nsh"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_COMPONENTS
; The per-machine folder is Program Files, never one users could write to.
!define MUI_PAGE_CUSTOMFUNCTION_PRE SkipDirectoryForAllUsers
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

; $R6: a program file; waits up to 10 s until it can be written (its
; process has ended), or returns at once when there is none.
Function ${UN}WaitWritable
    ${IfNot} ${FileExists} $R6
        Return
    ${EndIf}
    StrCpy $R4 40
    ${Do}
        ClearErrors
        FileOpen $R5 $R6 a
        ${IfNot} ${Errors}
            FileClose $R5
            Return
        ${EndIf}
        ${If} $R4 <= 0
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
    StrCpy $R6 "$INSTDIR\tarvo.exe"
    Call ${UN}WaitWritable
FunctionEnd

!macroend
!insertmacro TARVO_CLOSE_FUNCTIONS ""
!insertmacro TARVO_CLOSE_FUNCTIONS "un."

Function StartTarvo
    SetOutPath "$INSTDIR"
    Exec '"$INSTDIR\tarvo.exe"'
FunctionEnd

Function SkipDirectoryForAllUsers
    ${If} $AllUsers == 1
        Abort
    ${EndIf}
FunctionEnd

; The mode: per-machine with /AllUsers, or silently over a per-machine
; install; else the current user's, as before.
Function .onInit
    StrCpy $AllUsers 0
    ${GetParameters} $R0
    ClearErrors
    ${GetOptions} $R0 "/AllUsers" $R1
    ${IfNot} ${Errors}
        StrCpy $AllUsers 1
    ${EndIf}
    Call MachineInstallFolder
    ${If} ${Silent}
    ${AndIf} $0 != ""
        StrCpy $AllUsers 1
    ${EndIf}
    ${If} $AllUsers == 1
        Call RequireAdministrator
        SetShellVarContext all
        StrCpy $INSTDIR $0
        ${If} $INSTDIR == ""
            StrCpy $INSTDIR "$PROGRAMFILES64\${APP}"
        ${EndIf}
    ${Else}
        SetShellVarContext current
    ${EndIf}
FunctionEnd

; The uninstaller in the folder the per-machine entry names is that install's.
Function un.onInit
    StrCpy $AllUsers 0
    Call un.MachineInstallFolder
    ${If} $0 != ""
    ${AndIf} $0 == $INSTDIR
        StrCpy $AllUsers 1
        Call un.RequireAdministrator
        SetShellVarContext all
    ${Else}
        SetShellVarContext current
    ${EndIf}
FunctionEnd

; SHCTX is HKLM for the per-machine install, HKCU for the user's.
Section "${APP}" SecProgram
    SectionIn RO
    ${If} $AllUsers == 1
        Call CloseService
    ${EndIf}
    Call CloseTarvo
    !include "${LISTS}/files.nsh"
    SetOutPath "$INSTDIR"
    WriteUninstaller "$INSTDIR\Uninstall.exe"
    CreateShortCut "$SMPROGRAMS\${APP}.lnk" "$INSTDIR\tarvo.exe"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${APP}"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\tarvo.exe,0"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "${COMPANY}"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
    ; In KiB, as Add/Remove Programs reads it: the program folder's files.
    SectionGetSize ${SecProgram} $0
    WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" $0
    WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
    ${If} $AllUsers == 1
        Call StartService
    ${EndIf}
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
    ${If} $AllUsers == 1
        Call un.RemoveService
    ${EndIf}
    Call un.CloseTarvo
    !include "${LISTS}/unfiles.nsh"
    Delete "$INSTDIR\Uninstall.exe"
    ; Stays when the log (or anything the user put there) is left in it.
    RMDir "$INSTDIR"
    Delete "$SMPROGRAMS\${APP}.lnk"
    Delete "$SMSTARTUP\${APP}.lnk"
    DeleteRegKey SHCTX "${UNINSTALL_KEY}"
SectionEnd
