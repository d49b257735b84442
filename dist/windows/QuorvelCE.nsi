; The per-user Windows installer: QuorvelCE-<version>-setup.exe.
; Built by the `installer` target of the windows preset (cmake/Packaging.cmake),
; which passes VERSION, PUBLISHER, OUTFILE and the paths of the files it ships.
;
; No administrator rights: everything goes under the user's own profile and
; registry hive. The program rewrites its settings file at every Start, so it
; must live where the user may write, never under Program Files.

!macro REQUIRE what
  !ifndef ${what}
    !error "makensis needs /D${what}=..."
  !endif
!macroend
!insertmacro REQUIRE VERSION
!insertmacro REQUIRE PUBLISHER
!insertmacro REQUIRE OUTFILE
!insertmacro REQUIRE PROGRAM
!insertmacro REQUIRE TOOL
!insertmacro REQUIRE SETTINGS
!insertmacro REQUIRE ICON

Unicode true
Target amd64-unicode
RequestExecutionLevel user
ManifestDPIAware true
SetCompressor /SOLID lzma

!define NAME "QuorvelCE"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${NAME}"
!define SHIPPED_DEFAULT "QuorvelCE.default.INI"
; The dialog's tray callback: WM_USER + 100 for icon 126. A right click on the
; icon (WM_RBUTTONDOWN, from WinMessages.nsh) is the program's own quit:
; keys released, port closed, icon removed.
!define TRAY_MESSAGE 1124
!define TRAY_ICON_ID 126
!define SYNCHRONIZE 0x00100000

Name "${NAME}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\${NAME}"
; An upgrade goes where the first install went.
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${NAME} ${VERSION}"

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${NAME}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "FileDescription" "${NAME} ${VERSION} setup"
VIAddVersionKey "LegalCopyright" "${PUBLISHER}"

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_COMPONENTSPAGE_NODESC
!define MUI_FINISHPAGE_RUN "$INSTDIR\QuorvelCE.exe"
!define MUI_FINISHPAGE_RUN_TEXT "Start ${NAME} now"

!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Var WasRunning

; Ends every running QuorvelCE through its tray quit and waits for each
; process to be gone, so that its files can be replaced or removed and no key
; stays held. The dialog is a #32770 window captioned "QuorvelCE" or
; "QuorvelCE - <state>" (our own setup window is "QuorvelCE Setup", and is
; skipped by its process id too). Sets $WasRunning to 1 when one was ended.
!macro END_RUNNING_PROGRAM un
Function ${un}EndRunningProgram
  Push $0
  Push $1
  Push $2
  Push $3
  Push $4
  StrCpy $WasRunning 0
  System::Call "kernel32::GetCurrentProcessId() i .r4"
  StrCpy $0 0
  ${Do}
    FindWindow $0 "#32770" "" 0 $0
    ${If} $0 = 0
      ${Break}
    ${EndIf}
    System::Call "user32::GetWindowTextW(p r0, w .r1, i ${NSIS_MAX_STRLEN}) i"
    StrCpy $2 $1 12
    ${If} $1 != "${NAME}"
    ${AndIf} $2 != "${NAME} - "
      ${Continue}
    ${EndIf}
    System::Call "user32::GetWindowThreadProcessId(p r0, *i .r2) i"
    ${If} $2 = $4
      ${Continue}
    ${EndIf}
    System::Call "kernel32::OpenProcess(i ${SYNCHRONIZE}, i 0, i r2) p .r3"
    DetailPrint "Ending the running ${NAME} (process $2)"
    System::Call "user32::PostMessageW(p r0, i ${TRAY_MESSAGE}, p ${TRAY_ICON_ID}, p ${WM_RBUTTONDOWN}) i"
    ${If} $3 P<> 0
      ${Do}
        System::Call "kernel32::WaitForSingleObject(p r3, i 15000) i .r1"
        ${If} $1 = 0
          ${Break}
        ${EndIf}
        MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
          "${NAME} is still running. Quit it with a right click on its tray icon, then choose Retry." \
          /SD IDCANCEL IDRETRY +2
        Abort "${NAME} is still running."
      ${Loop}
      System::Call "kernel32::CloseHandle(p r3) i"
    ${Else}
      ; No handle on the process: wait for its window to go instead.
      StrCpy $1 0
      ${Do}
        System::Call "user32::IsWindow(p r0) i .r2"
        ${If} $2 = 0
          ${Break}
        ${EndIf}
        ${If} $1 >= 150
          MessageBox MB_OK|MB_ICONEXCLAMATION \
            "${NAME} is still running. Quit it with a right click on its tray icon, then run this again." \
            /SD IDOK
          Abort "${NAME} is still running."
        ${EndIf}
        Sleep 100
        IntOp $1 $1 + 1
      ${Loop}
    ${EndIf}
    StrCpy $WasRunning 1
    ; Start over: the list of windows has changed.
    StrCpy $0 0
  ${Loop}
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Pop $0
FunctionEnd
!macroend
!insertmacro END_RUNNING_PROGRAM ""
!insertmacro END_RUNNING_PROGRAM "un."

Section "${NAME}" SecProgram
  SectionIn RO
  Call EndRunningProgram
  SetOutPath "$INSTDIR"
  File "/oname=QuorvelCE.exe" "${PROGRAM}"
  File "/oname=quorvel-ini.exe" "${TOOL}"
  ; The user's settings survive an upgrade: the shipped file goes in only
  ; where there is none, and always beside it under its own name, for
  ; comparison and for a fresh start.
  File "/oname=${SHIPPED_DEFAULT}" "${SETTINGS}"
  ${IfNot} ${FileExists} "$INSTDIR\QuorvelCE.INI"
    File "/oname=QuorvelCE.INI" "${SETTINGS}"
  ${EndIf}
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateShortcut "$SMPROGRAMS\${NAME}.lnk" "$INSTDIR\QuorvelCE.exe" "" "$INSTDIR\QuorvelCE.exe" 0
  ; The sign-in choice is made again at every install: the next section puts
  ; the shortcut back when it is chosen.
  Delete "$SMSTARTUP\${NAME}.lnk"

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${NAME}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\QuorvelCE.exe,0"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" "$0"
SectionEnd

Section "Start ${NAME} when I sign in" SecStartup
  SetOutPath "$INSTDIR"
  CreateShortcut "$SMSTARTUP\${NAME}.lnk" "$INSTDIR\QuorvelCE.exe" "" "$INSTDIR\QuorvelCE.exe" 0
SectionEnd

Function .onInit
  ; An upgrade keeps the user's choice: no Startup shortcut where one was
  ; installed before means the user turned it off.
  ReadRegStr $0 HKCU "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 != ""
  ${AndIfNot} ${FileExists} "$SMSTARTUP\${NAME}.lnk"
    SectionSetFlags ${SecStartup} 0
  ${EndIf}
  ; /NOSTARTUP: no start at sign-in, for silent installs.
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/NOSTARTUP" $1
  ${IfNot} ${Errors}
    SectionSetFlags ${SecStartup} 0
  ${EndIf}
FunctionEnd

; A silent upgrade puts the program back as it found it; the finish page asks.
Function .onInstSuccess
  ${If} ${Silent}
  ${AndIf} $WasRunning = 1
    SetOutPath "$INSTDIR"
    Exec '"$INSTDIR\QuorvelCE.exe"'
  ${EndIf}
FunctionEnd

; $0 = 0 when QuorvelCE.INI is byte for byte the default shipped beside it.
Function un.SettingsUnchanged
  StrCpy $0 1
  ClearErrors
  FileOpen $1 "$INSTDIR\QuorvelCE.INI" r
  FileOpen $2 "$INSTDIR\${SHIPPED_DEFAULT}" r
  ${IfNot} ${Errors}
    FileSeek $1 0 END $3
    FileSeek $2 0 END $4
    ${If} $3 = $4
      FileSeek $1 0 SET
      FileSeek $2 0 SET
      ${Do}
        ClearErrors
        FileReadByte $1 $3
        FileReadByte $2 $4
        ${If} ${Errors}
          StrCpy $0 0
          ${Break}
        ${EndIf}
      ${LoopWhile} $3 = $4
    ${EndIf}
  ${EndIf}
  FileClose $1
  FileClose $2
FunctionEnd

Section "Uninstall"
  Call un.EndRunningProgram
  Delete "$SMSTARTUP\${NAME}.lnk"
  Delete "$SMPROGRAMS\${NAME}.lnk"
  Delete "$INSTDIR\QuorvelCE.exe"
  Delete "$INSTDIR\quorvel-ini.exe"

  ; A settings file the user changed stays unless the user says otherwise
  ; (silent mode keeps it); the untouched default goes.
  ${If} ${FileExists} "$INSTDIR\QuorvelCE.INI"
    Call un.SettingsUnchanged
    ${If} $0 = 0
      Delete "$INSTDIR\QuorvelCE.INI"
    ${Else}
      MessageBox MB_YESNO|MB_ICONQUESTION|MB_DEFBUTTON2 \
        "Your ${NAME} settings ($INSTDIR\QuorvelCE.INI) differ from the ones it came with.$\r$\n$\r$\nDelete them too?" \
        /SD IDNO IDNO +2
      Delete "$INSTDIR\QuorvelCE.INI"
    ${EndIf}
  ${EndIf}
  ; The lock file the program and the tool share for each rewrite of the
  ; settings file; a kept settings file gets a new one at its next rewrite.
  Delete "$INSTDIR\.QuorvelCE.INI.lock"
  Delete "$INSTDIR\${SHIPPED_DEFAULT}"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  ; The record of the keys a run holds down, which the next start reads to
  ; give back what a killed run left; with the program ended it holds nothing.
  Delete "$LOCALAPPDATA\${NAME}\keys"
  RMDir "$LOCALAPPDATA\${NAME}"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
