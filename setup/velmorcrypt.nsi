; The setup program of Velmorcrypt Vozeri, made by scripts/release.sh:
;   makensis -DVERSION=<x.y.z> -DSTAGE=<folder of the release files>
;            -DSIGN=<scripts/sign.sh> -DOUTFILE=<setup.exe> setup/velmorcrypt.nsi
; It installs the program, the stand-in driver, the help file, the
; command-line tool, the user guide and the licence into Program Files for
; every user (with administrator rights, which the driver needs anyway), a
; Start-menu shortcut and an entry in Apps & Features. /S installs silently,
; /D=<folder> (last on the command line) picks the folder; running it again
; upgrades in place.
;
; The uninstaller removes every file, shortcut and registry key that setup
; made, and the driver's service when a crash of the program left it behind.
; It keeps the user's settings unless asked (the box on its components page,
; or /REMOVESETTINGS). Setup and uninstaller both refuse, with a message and
; exit code 2, while the program runs or a volume is mounted.
Unicode true
Target amd64-unicode
ManifestSupportedOS all
RequestExecutionLevel admin
SetCompressor /SOLID lzma

!include LogicLib.nsh
!include FileFunc.nsh
!include Sections.nsh

!define PRODUCT "Velmorcrypt Vozeri"
!define PUBLISHER "Kestrane"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Velmorcrypt"
!define SETTINGS_KEY "Software\Kestrane\Velmorcrypt"
!define SHORTCUT "$SMPROGRAMS\${PRODUCT}.lnk"
; The program's single-instance mutex (app/main.cpp).
!define PROGRAM_MUTEX "Global\{6F1D3A52-8C4B-4E27-9B0A-3D5E7C21F948}"
; The driver's service, as the program installs it, and its volumes' devices.
!define SERVICE "Velmorcrypt"
!define SERVICE_KEY "SYSTEM\CurrentControlSet\Services\Velmorcrypt"
!define VOLUME_DEVICE "\Device\VelmorcryptVolume"
!define SYNCHRONIZE 0x00100000
!define SC_MANAGER_ALL_ACCESS 0xF003F
!define SERVICE_ALL_ACCESS 0xF01FF
!define SERVICE_CONTROL_STOP 1
!define SERVICE_STOPPED 1
!define ERROR_SERVICE_NOT_ACTIVE 1062

Name "${PRODUCT}"
Caption "${PRODUCT} ${VERSION} Setup"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Velmorcrypt"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
Icon "../resources/art/app.ico"
UninstallIcon "../resources/art/app.ico"
LicenseData "${STAGE}/LICENSE"
BrandingText "${PRODUCT} ${VERSION}"
XPStyle on
InstallColors /windows
SpaceTexts none
ShowInstDetails show
ShowUninstDetails show
!finalize '"${SIGN}" "%1"'
!uninstfinalize '"${SIGN}" "%1"'

VIProductVersion "${VERSION}.0"
VIAddVersionKey ProductName "${PRODUCT}"
VIAddVersionKey CompanyName "${PUBLISHER}"
VIAddVersionKey FileDescription "${PRODUCT} Setup"
VIAddVersionKey FileVersion "${VERSION}"
VIAddVersionKey ProductVersion "${VERSION}"
VIAddVersionKey LegalCopyright "Copyright (c) 2026 ${PUBLISHER}"

Page license
Page directory
Page instfiles
UninstPage uninstConfirm
PageEx un.components
  ComponentText "${PRODUCT} is removed. Tick Your settings to remove your options, recently mounted volumes, last folders and the idle timeout too; otherwise they stay."
PageExEnd
UninstPage instfiles

; Shows why setup cannot go on and ends it with exit code 2.
!macro Refuse text
  MessageBox MB_ICONSTOP|MB_OK "${text}" /SD IDOK
  SetErrorLevel 2
  Quit
!macroend

; The checks before any file changes, for setup and for the uninstaller.
!macro RefusalChecks un
  ; The program runs: its files are in use, and its exit would miss the service.
  Function ${un}RefuseWhileInUse
    System::Call 'kernel32::OpenMutexW(i ${SYNCHRONIZE}, i 0, w "${PROGRAM_MUTEX}") p .r0'
    ${If} $0 P<> 0
      System::Call 'kernel32::CloseHandle(p r0)'
      !insertmacro Refuse "Velmorcrypt is running. Choose Exit in its menu in the notification area, then run this again."
    ${EndIf}
    ; A drive letter of one of the driver's volumes: the driver must stay.
    StrCpy $1 65
    ${Do}
      IntFmt $2 "%c:" $1
      System::Call 'kernel32::QueryDosDeviceW(w r2, w .r3, i ${NSIS_MAX_STRLEN}) i .r4'
      ${If} $4 <> 0
        System::Call 'shlwapi::StrStrW(w r3, w "${VOLUME_DEVICE}") p .r5'
        ${If} $5 P<> 0
          !insertmacro Refuse "A Velmorcrypt volume is mounted on drive $2. Dismount every volume, then run this again."
        ${EndIf}
      ${EndIf}
      IntOp $1 $1 + 1
    ${LoopUntil} $1 > 90
  FunctionEnd

  ; The driver's service left by a program that did not reach its exit, when
  ; it names this folder's driver: stopped and deleted, so that the file can
  ; go. A driver that refuses to stop still serves a volume.
  Function ${un}RemoveLeftService
    SetRegView 64
    ReadRegStr $0 HKLM "${SERVICE_KEY}" "ImagePath"
    StrCpy $1 $0 4
    ${If} $1 == "\??\"
      StrCpy $0 $0 "" 4
    ${EndIf}
    ${If} $0 != "$INSTDIR\velmorcrypt.sys"
      Return
    ${EndIf}
    System::Call 'advapi32::OpenSCManagerW(p 0, p 0, i ${SC_MANAGER_ALL_ACCESS}) p .r1'
    System::Call 'advapi32::OpenServiceW(p r1, w "${SERVICE}", i ${SERVICE_ALL_ACCESS}) p .r2'
    ${If} $2 P<> 0
      System::Call '*(&i28) p .r3'
      System::Call 'advapi32::ControlService(p r2, i ${SERVICE_CONTROL_STOP}, p r3) i .r4 ?e'
      Pop $5
      ${If} $4 = 0
      ${AndIf} $5 <> ${ERROR_SERVICE_NOT_ACTIVE}
        System::Free $3
        System::Call 'advapi32::CloseServiceHandle(p r2)'
        System::Call 'advapi32::CloseServiceHandle(p r1)'
        !insertmacro Refuse "The Velmorcrypt driver did not stop (error $5): a volume may still be mounted. Dismount every volume, then run this again."
      ${EndIf}
      ; Wait up to ten seconds for the stop.
      StrCpy $6 0
      ${Do}
        System::Call 'advapi32::QueryServiceStatus(p r2, p r3) i .r4'
        System::Call '*$3(i, i .r7)'
        ${If} $4 = 0
        ${OrIf} $7 = ${SERVICE_STOPPED}
        ${OrIf} $6 >= 50
          ${Break}
        ${EndIf}
        Sleep 200
        IntOp $6 $6 + 1
      ${Loop}
      System::Free $3
      System::Call 'advapi32::DeleteService(p r2)'
      System::Call 'advapi32::CloseServiceHandle(p r2)'
      DetailPrint "Removed the driver's service left behind by the program."
    ${EndIf}
    System::Call 'advapi32::CloseServiceHandle(p r1)'
  FunctionEnd
!macroend
!insertmacro RefusalChecks ""
!insertmacro RefusalChecks "un."

Function .onInit
  SetRegView 64
  Call RefuseWhileInUse
FunctionEnd

Section "${PRODUCT}"
  SectionIn RO
  SetRegView 64
  Call RemoveLeftService
  ; Installed before in another folder: that copy goes first, so that one
  ; entry in Apps & Features stays.
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 != ""
  ${AndIf} $0 != $INSTDIR
  ${AndIf} ${FileExists} "$0\uninstall.exe"
    ExecWait '"$0\uninstall.exe" /S _?=$0'
    Delete "$0\uninstall.exe"
    RMDir "$0"
  ${EndIf}

  SetOutPath "$INSTDIR"
  ; The kernel loads the driver from this folder: only administrators and
  ; the system may change it, wherever /D= puts it (a new folder under C:\
  ; would otherwise let every user write there).
  nsExec::ExecToLog '"$SYSDIR\icacls.exe" "$INSTDIR" /inheritance:r /grant:r *S-1-5-32-544:(OI)(CI)F *S-1-5-18:(OI)(CI)F *S-1-5-32-545:(OI)(CI)RX'
  Pop $0
  ${If} $0 != 0
    !insertmacro Refuse "Setup could not limit the rights on $INSTDIR to administrators (icacls: $0)."
  ${EndIf}
  File "${STAGE}/velmorcrypt.exe"
  File "${STAGE}/velmorcrypt.sys"
  File "${STAGE}/Velmorcrypt.chm"
  File "${STAGE}/velmorcrypt-cli.exe"
  File "${STAGE}/user-guide.md"
  File /oname=LICENSE.txt "${STAGE}/LICENSE"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  SetShellVarContext all
  CreateShortcut "${SHORTCUT}" "$INSTDIR\velmorcrypt.exe" "" "$INSTDIR\velmorcrypt.exe" 0

  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\velmorcrypt.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "un.${PRODUCT}"
  SectionIn RO
  SetRegView 64
  Call un.RemoveLeftService
  Delete "$INSTDIR\velmorcrypt.exe"
  ; A driver that has just stopped may keep its file a moment longer, until
  ; the system has unloaded it: up to ten seconds.
  StrCpy $0 0
  ${Do}
    ClearErrors
    Delete "$INSTDIR\velmorcrypt.sys"
    ${IfNot} ${Errors}
    ${OrIf} $0 >= 50
      ${Break}
    ${EndIf}
    Sleep 200
    IntOp $0 $0 + 1
  ${Loop}
  Delete "$INSTDIR\Velmorcrypt.chm"
  Delete "$INSTDIR\velmorcrypt-cli.exe"
  Delete "$INSTDIR\user-guide.md"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\uninstall.exe"
  ; Only when empty: volumes the user kept here stay.
  RMDir "$INSTDIR"
  SetShellVarContext all
  Delete "${SHORTCUT}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd

Section /o "un.Your settings" SettingsSection
  SetRegView 64
  DeleteRegKey HKCU "${SETTINGS_KEY}"
  DeleteRegKey /ifempty HKCU "Software\Kestrane"
  DeleteRegKey HKLM "${SETTINGS_KEY}"
  DeleteRegKey /ifempty HKLM "Software\Kestrane"
SectionEnd

Function un.onInit
  SetRegView 64
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/REMOVESETTINGS" $1
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${SettingsSection}
  ${EndIf}
  Call un.RefuseWhileInUse
FunctionEnd
