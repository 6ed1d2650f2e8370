; Setup of the Oravine scanner support suite.
; makensis -DBIN=<folder of the built binaries> -DOUTFILE=<setup.exe> -DVERSION=<x.y.z> oravine.nsi
;
; /S installs silently; /VIRTUALSCANNER also installs the virtual scanner
; driver, for machines without the real scanner.

Unicode true
!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include Sections.nsh

!ifndef BIN
  !error "BIN must name the folder of the built binaries"
!endif
!ifndef VERSION
  !define VERSION "1.0.0"
!endif

!define PRODUCT "Oravine Scanner"
!define GROUP "Oravine Scanner"
!define MONITOR_CLASS "Scan Button Utility"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\OravineScanner"
!define INI "$WINDIR\MERVIX.INI"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\Oravine"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "FileDescription" "${PRODUCT} setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" ""

!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Var MonitorStopped

; Ends a running monitor with btnclose and waits until its window is gone,
; so that its files can be replaced or removed.
!macro StopMonitor
  StrCpy $MonitorStopped 0
  FindWindow $0 "${MONITOR_CLASS}"
  ${If} $0 <> 0
    StrCpy $MonitorStopped 1
    ${If} ${FileExists} "$INSTDIR\btnclose.exe"
      ExecWait '"$INSTDIR\btnclose.exe"'
    ${Else}
      SendMessage $0 ${WM_CLOSE} 0 0
    ${EndIf}
    StrCpy $1 0
    ${Do}
      Sleep 100
      FindWindow $0 "${MONITOR_CLASS}"
      IntOp $1 $1 + 1
      ${If} $1 >= 100
        ${Break}
      ${EndIf}
    ${LoopWhile} $0 <> 0
    Sleep 300
  ${EndIf}
!macroend

Section "Scanner software (required)" SecSuite
  SectionIn RO
  !insertmacro StopMonitor
  SetOutPath "$INSTDIR"
  File "${BIN}\devcmd.dll"
  File "${BIN}\dscrn32.dll"
  File "${BIN}\scanutil.exe"
  File "${BIN}\btnmon.exe"
  File "${BIN}\btnclose.exe"
  File "${BIN}\DETECT.HLP"
  File "${BIN}\SFTTB32.DLL"
  File "${BIN}\BTNDRAW.DLL"
  File "${BIN}\scan.exe"

  ; Only these keys are the installer's; every other key of the file stays.
  WriteINIStr "${INI}" "ScanDLL" "DLL32" "$INSTDIR\devcmd.dll"
  WriteINIStr "${INI}" "MervixSystem" "DLL32" "$INSTDIR\"
  WriteINIStr "${INI}" "MervixSystem" "Group" "${GROUP}"
  FlushINI "${INI}"

  CreateDirectory "$SMPROGRAMS\${GROUP}"
  CreateShortcut "$SMPROGRAMS\${GROUP}\Scanner Utility.lnk" "$INSTDIR\scanutil.exe"
  CreateShortcut "$SMPROGRAMS\${GROUP}\Scan Button Setup.lnk" "$INSTDIR\btnmon.exe" "/S"
  CreateShortcut "$SMPROGRAMS\${GROUP}\Scan Button Monitor.lnk" "$INSTDIR\btnmon.exe"
  CreateShortcut "$SMPROGRAMS\${GROUP}\Uninstall.lnk" "$INSTDIR\uninstall.exe"
  CreateShortcut "$SMSTARTUP\Scan Button Monitor.lnk" "$INSTDIR\btnmon.exe"

  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd


Section /o "Virtual scanner (for machines without the scanner)" SecVirtual
  SetOutPath "$INSTDIR"
  File "${BIN}\orvscnr.sys"
  File "${BIN}\vscanctl.exe"
  ExecWait '"$INSTDIR\vscanctl.exe" stop'
  ExecWait '"$INSTDIR\vscanctl.exe" install' $0
  ${If} $0 <> 0
    DetailPrint "The virtual scanner could not be installed (vscanctl exit code $0)."
  ${Else}
    ExecWait '"$INSTDIR\vscanctl.exe" start' $0
    ${If} $0 <> 0
      DetailPrint "The virtual scanner was installed but did not start (vscanctl exit code $0)."
    ${EndIf}
  ${EndIf}
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "VirtualScanner" 1
SectionEnd

; A monitor that was running before goes on watching the button.
Section "-Restart monitor"
  ${If} $MonitorStopped = 1
    Exec '"$INSTDIR\btnmon.exe"'
  ${EndIf}
SectionEnd

LangString DESC_SecSuite ${LANG_ENGLISH} "The command library, the Scanner Utility, the scan-button monitor with its setup and help, the filter library and the scanning program."
LangString DESC_SecVirtual ${LANG_ENGLISH} "A driver that behaves like the scanner, so that the software can be tried without one."
!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SecSuite} $(DESC_SecSuite)
  !insertmacro MUI_DESCRIPTION_TEXT ${SecVirtual} $(DESC_SecVirtual)
!insertmacro MUI_FUNCTION_DESCRIPTION_END

Function .onInit
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/VIRTUALSCANNER" $R1
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${SecVirtual}
  ${EndIf}
  ; An earlier install kept its virtual scanner: keep it on.
  ReadRegDWORD $R2 HKLM "${UNINSTALL_KEY}" "VirtualScanner"
  ${If} $R2 = 1
    !insertmacro SelectSection ${SecVirtual}
  ${EndIf}
FunctionEnd

Section "Uninstall"
  !insertmacro StopMonitor
  ReadRegDWORD $0 HKLM "${UNINSTALL_KEY}" "VirtualScanner"
  ${If} $0 = 1
  ${AndIf} ${FileExists} "$INSTDIR\vscanctl.exe"
    ExecWait '"$INSTDIR\vscanctl.exe" uninstall'
  ${EndIf}

  Delete "$SMSTARTUP\Scan Button Monitor.lnk"
  Delete "$SMPROGRAMS\${GROUP}\Scanner Utility.lnk"
  Delete "$SMPROGRAMS\${GROUP}\Scan Button Setup.lnk"
  Delete "$SMPROGRAMS\${GROUP}\Scan Button Monitor.lnk"
  Delete "$SMPROGRAMS\${GROUP}\Uninstall.lnk"
  RMDir "$SMPROGRAMS\${GROUP}"

  ; The keys the installer wrote, and nothing else.
  DeleteINIStr "${INI}" "ScanDLL" "DLL32"
  DeleteINIStr "${INI}" "MervixSystem" "DLL32"
  DeleteINIStr "${INI}" "MervixSystem" "Group"
  FlushINI "${INI}"

  Delete "$INSTDIR\devcmd.dll"
  Delete "$INSTDIR\dscrn32.dll"
  Delete "$INSTDIR\scanutil.exe"
  Delete "$INSTDIR\btnmon.exe"
  Delete "$INSTDIR\btnclose.exe"
  Delete "$INSTDIR\DETECT.HLP"
  Delete "$INSTDIR\SFTTB32.DLL"
  Delete "$INSTDIR\BTNDRAW.DLL"
  Delete "$INSTDIR\scan.exe"
  Delete "$INSTDIR\orvscnr.sys"
  Delete "$INSTDIR\vscanctl.exe"
  Delete "$INSTDIR\Detect.ini"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
