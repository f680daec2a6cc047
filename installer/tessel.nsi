; Tessel's installer: per machine, into the 64-bit Program Files.
; makensis -DVERSION=x.y.z -DTESSEL_EXE=path -DAPP_ICON=path -DOUTFILE=path tessel.nsi
; (CMake passes these: cmake --build build --target package)
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestSupportedOS all
ManifestDPIAware true

!define GUID "{6F1C2B7A-93D4-4E85-B0A2-5C7E19D4F360}"
!define PUBLISHER "The Tessel Project"
!define UNINSTALL_KEY "SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\${GUID}"
!define LISTS_KEY "SOFTWARE\${GUID}"
!define QUIT_REQUEST 1025 ; WM_USER + 1
!define SYNCHRONIZE 0x100000
!define QUIT_WAIT_MS 15000
!define KEEP_LISTS_QUESTION "Keep every user's list of disk images for a later installation of Tessel?"
!define KEEP_LISTS_NOTE "No removes the lists from the registry; the image files stay where they are."

Name "Tessel"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Tessel"
BrandingText "Tessel ${VERSION}"
VIProductVersion "${VERSION}.0"
VIAddVersionKey ProductName "Tessel"
VIAddVersionKey ProductVersion "${VERSION}"
VIAddVersionKey FileVersion "${VERSION}"
VIAddVersionKey FileDescription "Tessel Setup"
VIAddVersionKey CompanyName "${PUBLISHER}"
VIAddVersionKey LegalCopyright "Copyright (C) 2026 ${PUBLISHER}"

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include Sections.nsh
!include logon.nsh

!define MUI_ICON "${APP_ICON}"
!define MUI_UNICON "${APP_ICON}"
!define MUI_COMPONENTSPAGE_NODESC
!insertmacro MUI_PAGE_COMPONENTS
!define MUI_PAGE_CUSTOMFUNCTION_PRE SkipWhenUpgrading
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\tessel.exe"
!define MUI_FINISHPAGE_RUN_TEXT "Start Tessel now"
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; A running Tessel holds tessel.exe: send it the quit request (the one its own "unmount all
; and exit" sends), and wait for the process to end.
!macro EndRunningTessel
  ${Do}
    FindWindow $0 "${GUID}" "Tessel"
    ${If} $0 = 0
      ${Break}
    ${EndIf}
    System::Call 'user32::GetWindowThreadProcessId(p r0, *i .r1)'
    System::Call 'kernel32::OpenProcess(i ${SYNCHRONIZE}, i 0, i r1) p .r2'
    System::Call 'user32::PostMessageW(p r0, i ${QUIT_REQUEST}, p 0, p 0)'
    System::Call 'kernel32::WaitForSingleObject(p r2, i ${QUIT_WAIT_MS}) i .r3'
    System::Call 'kernel32::CloseHandle(p r2)'
    ${If} $3 <> 0
      MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
        "Tessel is still running. Close it, then choose Retry." /SD IDCANCEL IDRETRY +2
      Abort
    ${EndIf}
  ${Loop}
!macroend

Section "Tessel" SecProgram
  SectionIn RO
  !insertmacro EndRunningTessel
  SetOutPath "$INSTDIR"
  File "/oname=tessel.exe" "${TESSEL_EXE}"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortCut "$SMPROGRAMS\Tessel.lnk" "$INSTDIR\tessel.exe"
  ; The logon start is written below only when chosen: a new choice replaces the old one.
  !insertmacro RemoveLogonStart

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Tessel"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\tessel.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section "Start Tessel at logon" SecLogon
  !insertmacro WriteLogonStart
SectionEnd

Var Upgrading

Function .onInit
  SetRegView 64
  SetShellVarContext all
  ; Over an earlier installation: its folder, and its choice about the logon start.
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 != ""
    StrCpy $Upgrading 1
    StrCpy $INSTDIR $0
    !insertmacro LogonStartPresent $1
    ${If} $1 = 0
      !insertmacro UnselectSection ${SecLogon}
    ${EndIf}
  ${EndIf}
FunctionEnd

Function SkipWhenUpgrading
  ${If} $Upgrading = 1
    Abort
  ${EndIf}
FunctionEnd

Function un.onInit
  SetRegView 64
  SetShellVarContext all
FunctionEnd

Section "Uninstall"
  !insertmacro EndRunningTessel
  Delete /REBOOTOK "$INSTDIR\tessel.exe"
  Delete "$INSTDIR\uninstall.exe"
  RMDir /REBOOTOK "$INSTDIR"
  Delete "$SMPROGRAMS\Tessel.lnk"
  !insertmacro RemoveLogonStart
  MessageBox MB_YESNO|MB_ICONQUESTION "${KEEP_LISTS_QUESTION}$\r$\n$\r$\n${KEEP_LISTS_NOTE}" \
    /SD IDYES IDYES +2
  DeleteRegKey HKLM "${LISTS_KEY}"
  ; Last, so that an uninstall cut short can be run again from Add/Remove Programs.
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
