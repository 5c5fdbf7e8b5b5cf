; The per-machine install's service, for tarvo.nsi: tarvod.exe registered as
; the Windows service that answers calls with nobody logged in.
;
; The installer never talks to the Service Control Manager itself: the
; installed tarvod.exe does, through its verbs (--service-status,
; --install-service, --start-service, --close-service-when-idle,
; --stop-service, --remove-service), each of which waits for what it asked
; and exits 0 once done. An upgrade first asks the running service to close
; once its job and call are over (the same bounded wait as a silent close of
; the tray), stops it in order when that wait runs out, and waits for its
; process to end before the files are replaced; afterwards the new tarvod.exe
; registers itself (a quoted path under Program Files) and starts.
;
; Every HKLM access is in the 64-bit view: the settings the service reads
; (HKLM\SOFTWARE\Tarvo) and the uninstall entry must be where a 64-bit
; program looks, never under WOW6432Node. The settings and the service's log
; (%ProgramData%\Tarvo) outlive an uninstall.

!define ElevationRequired 740 ; ERROR_ELEVATION_REQUIRED, the exit status

; $0: the per-machine install's folder from its uninstall entry, "" if none.
!macro TARVO_MACHINE_FOLDER UN
Function ${UN}MachineInstallFolder
    SetRegView 64
    ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
FunctionEnd

; Quits unless run by an administrator (elevated, where Windows asks).
Function ${UN}RequireAdministrator
    UserInfo::GetAccountType
    Pop $1
    ${If} $1 != "Admin"
        MessageBox MB_OK|MB_ICONSTOP "Installing or removing ${APP} for all users needs an administrator.$\r$\n$\r$\nStart it again with Run as administrator." /SD IDOK
        SetErrorLevel ${ElevationRequired}
        Quit
    ${EndIf}
FunctionEnd

; Runs the installed tarvod.exe with the arguments $R1, its output to the
; details. $0: its exit status ("error" when it could not be started).
Function ${UN}Tarvod
    DetailPrint "tarvod.exe $R1"
    nsExec::ExecToLog '"$INSTDIR\tarvod.exe" $R1'
    Pop $0
FunctionEnd
!macroend
!insertmacro TARVO_MACHINE_FOLDER ""
!insertmacro TARVO_MACHINE_FOLDER "un."

; $0: 1 when the service is registered and not stopped, else 0.
Function ServiceActive
    StrCpy $0 0
    ${IfNot} ${FileExists} "$INSTDIR\tarvod.exe"
        Return
    ${EndIf}
    nsExec::ExecToStack '"$INSTDIR\tarvod.exe" --service-status'
    Pop $1
    Pop $2
    ${If} $1 != 0
        Return
    ${EndIf}
    StrCpy $3 $2 13
    StrCpy $4 $2 7
    ${If} $3 != "not installed"
    ${AndIf} $4 != "stopped"
        StrCpy $0 1
    ${EndIf}
FunctionEnd

; An upgrade: the running service closes once idle, or is stopped in order
; when that takes too long; aborts when it will not end.
Function CloseService
    Call ServiceActive
    ${If} $0 == 0
        Return
    ${EndIf}
    ${IfNot} ${Silent}
        MessageBox MB_OKCANCEL|MB_ICONINFORMATION "The ${APP} service is running and must be stopped to go on.$\r$\n$\r$\nIt stops once a call in progress and its job are done, and starts again after the install.$\r$\n$\r$\nStop it now?" IDOK close
        Abort
      close:
    ${EndIf}
    DetailPrint "Closing the ${APP} service once its running job and call, if any, have ended"
    StrCpy $R1 "--close-service-when-idle --wait ${SilentJobWait}"
    Call Tarvod
    ${If} $0 != 0
        DetailPrint "Stopping the ${APP} service"
        StrCpy $R1 "--stop-service --wait ${SilentShutdownWait}"
        Call Tarvod
        ${If} $0 != 0
            MessageBox MB_OK|MB_ICONSTOP "The ${APP} service did not stop: nothing was changed." /SD IDOK
            Abort ; exit status 2
        ${EndIf}
    ${EndIf}
    StrCpy $R6 "$INSTDIR\tarvod.exe"
    Call WaitWritable
FunctionEnd

; After the files: the new tarvod.exe registers itself and starts.
Function StartService
    StrCpy $R1 "--install-service"
    Call Tarvod
    ${If} $0 == 0
        StrCpy $R1 "--start-service"
        Call Tarvod
    ${EndIf}
    ${If} $0 != 0
        MessageBox MB_OK|MB_ICONSTOP "The ${APP} service could not be registered or started (see the details).$\r$\n$\r$\nThe program is installed; running this installer again tries once more." /SD IDOK
        Abort ; exit status 2
    ${EndIf}
FunctionEnd

; The uninstaller: the service is stopped in order and removed, its process
; gone before the files go.
Function un.RemoveService
    ${IfNot} ${FileExists} "$INSTDIR\tarvod.exe"
        Return
    ${EndIf}
    StrCpy $R1 "--remove-service --wait ${SilentShutdownWait}"
    Call un.Tarvod
    ${If} $0 != 0
        MessageBox MB_OK|MB_ICONSTOP "The ${APP} service could not be removed: nothing was uninstalled." /SD IDOK
        Abort
    ${EndIf}
    StrCpy $R6 "$INSTDIR\tarvod.exe"
    Call un.WaitWritable
FunctionEnd
