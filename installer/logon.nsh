; Starting Tessel at logon, in the form the program itself registers. Where User Account
; Control is on (EnableLUA missing or not 0) a Run entry would start Tessel with an
; administrator's filtered token, so the start is a Task Scheduler task: an administrator's
; logon, the Administrators group at its highest run level, no time limit, on battery too, an
; instance for each administrator signed in, normal priority. Where it is off, the machine's
; Run value with the quoted program path. The only place the installer knows how Tessel starts.
!include WordFunc.nsh

!define RUN_KEY "SOFTWARE\Microsoft\Windows\CurrentVersion\Run"
!define POLICY_KEY "SOFTWARE\Microsoft\Windows\CurrentVersion\Policies\System"
!define TASK_NAME "Tessel"
!define SCHTASKS '"$SYSDIR\schtasks.exe"'
!define TASK_DESCRIPTION "Starts Tessel when an administrator logs on, with the rights it needs to attach the disk images marked for startup."
!define TASK_REFUSED "Tessel is installed, but it will not start at logon: the Task Scheduler did not take its task (schtasks.exe ended with $0). Turn the start at logon on later in Tessel's Options."
; A silent installation has only its exit code to say so.
!define TASK_REFUSED_EXIT_CODE 3

!macro WriteTaskLine FILE TEXT
  FileWriteUTF16LE ${FILE} `${TEXT}$\r$\n`
!macroend

!macro WriteLogonStart
  ClearErrors
  ReadRegDWORD $0 HKLM "${POLICY_KEY}" "EnableLUA"
  ${If} ${Errors}
  ${OrIf} $0 <> 0
    InitPluginsDir
    ${WordReplace} '"$INSTDIR\tessel.exe"' "&" "&amp;" "+" $1
    FileOpen $0 "$PLUGINSDIR\task.xml" w
    FileWriteWord $0 0xFEFF
    !insertmacro WriteTaskLine $0 '<?xml version="1.0" encoding="UTF-16"?>'
    !insertmacro WriteTaskLine $0 '<Task version="1.2" xmlns="http://schemas.microsoft.com/windows/2004/02/mit/task">'
    !insertmacro WriteTaskLine $0 '  <RegistrationInfo><Author>${PUBLISHER}</Author>'
    !insertmacro WriteTaskLine $0 '    <Description>${TASK_DESCRIPTION}</Description></RegistrationInfo>'
    !insertmacro WriteTaskLine $0 '  <Triggers><LogonTrigger><Enabled>true</Enabled></LogonTrigger></Triggers>'
    !insertmacro WriteTaskLine $0 '  <Principals><Principal>'
    !insertmacro WriteTaskLine $0 '    <GroupId>S-1-5-32-544</GroupId><RunLevel>HighestAvailable</RunLevel>'
    !insertmacro WriteTaskLine $0 '  </Principal></Principals>'
    !insertmacro WriteTaskLine $0 '  <Settings>'
    !insertmacro WriteTaskLine $0 '    <MultipleInstancesPolicy>Parallel</MultipleInstancesPolicy>'
    !insertmacro WriteTaskLine $0 '    <DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>'
    !insertmacro WriteTaskLine $0 '    <StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>'
    !insertmacro WriteTaskLine $0 '    <ExecutionTimeLimit>PT0S</ExecutionTimeLimit>'
    !insertmacro WriteTaskLine $0 '    <Priority>4</Priority>'
    !insertmacro WriteTaskLine $0 '  </Settings>'
    !insertmacro WriteTaskLine $0 '  <Actions><Exec><Command>$1</Command></Exec></Actions>'
    !insertmacro WriteTaskLine $0 '</Task>'
    FileClose $0
    nsExec::Exec '${SCHTASKS} /create /tn "${TASK_NAME}" /xml "$PLUGINSDIR\task.xml" /f'
    Pop $0
    ; 0, or the exit code; "error" when schtasks.exe could not be started at all.
    ${If} $0 != 0
      MessageBox MB_OK|MB_ICONEXCLAMATION "${TASK_REFUSED}" /SD IDOK
      SetErrorLevel ${TASK_REFUSED_EXIT_CODE}
    ${EndIf}
  ${Else}
    WriteRegStr HKLM "${RUN_KEY}" "${GUID}" '"$INSTDIR\tessel.exe"'
  ${EndIf}
!macroend

!macro RemoveLogonStart
  DeleteRegValue HKLM "${RUN_KEY}" "${GUID}"
  nsExec::Exec '${SCHTASKS} /delete /tn "${TASK_NAME}" /f'
  Pop $0
!macroend

; Sets VAR to 1 when Tessel starts at logon now, else 0. The Task Scheduler keeps each task of
; its root folder as a file of that name in System32\Tasks.
!macro LogonStartPresent VAR
  ClearErrors
  ReadRegStr ${VAR} HKLM "${RUN_KEY}" "${GUID}"
  ${If} ${Errors}
  ${AndIfNot} ${FileExists} "$SYSDIR\Tasks\${TASK_NAME}"
    StrCpy ${VAR} 0
  ${Else}
    StrCpy ${VAR} 1
  ${EndIf}
!macroend
