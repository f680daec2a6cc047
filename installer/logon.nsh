; Starting Tessel at logon: the machine's Run value, the same one the Options dialog writes,
; holding the quoted program path. The only place the installer knows how Tessel starts.
!define RUN_KEY "SOFTWARE\Microsoft\Windows\CurrentVersion\Run"

!macro WriteLogonStart
  WriteRegStr HKLM "${RUN_KEY}" "${GUID}" '"$INSTDIR\tessel.exe"'
!macroend

!macro RemoveLogonStart
  DeleteRegValue HKLM "${RUN_KEY}" "${GUID}"
!macroend

; Sets VAR to 1 when Tessel starts at logon now, else 0.
!macro LogonStartPresent VAR
  ClearErrors
  ReadRegStr ${VAR} HKLM "${RUN_KEY}" "${GUID}"
  ${If} ${Errors}
    StrCpy ${VAR} 0
  ${Else}
    StrCpy ${VAR} 1
  ${EndIf}
!macroend
