; MeterLoad's installer for one Windows build: meterload.exe, meterload-cli.exe
; and the readme under Program Files (the x64 build's under the 64-bit one), a
; Start-menu entry, and an uninstaller registered in Add/Remove Programs. For
; all users of the machine; /S installs and uninstalls without a question.
;
; makensis -DARCH=x86|x64 -DVERSION=2.0.6 -DSTAGE=<folder> -DOUTFILE=<installer> meterload.nsi
;
; STAGE holds what `cmake --install` gives. The files are named one by one:
; the simulated VISA library of the tests can never come along.

; The x64 build's installer is a 64-bit program itself, as what it installs.
!if "${ARCH}" == "x64"
  Target amd64-unicode
!else
  Unicode true
!endif
SetCompressor /SOLID lzma

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "x64.nsh"
!include "FileFunc.nsh"

!ifndef ARCH | VERSION | STAGE | OUTFILE
  !error "ARCH, VERSION, STAGE and OUTFILE must be given with -D"
!endif

!define PRODUCT "MeterLoad"
!define PUBLISHER "Korvalen Corp."
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\MeterLoad"
!define SHORTCUT "$SMPROGRAMS\MeterLoad.lnk"

Name "${PRODUCT} ${VERSION} (${ARCH})"
OutFile "${OUTFILE}"
RequestExecutionLevel admin
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} ${VERSION} (${ARCH}) setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright (C) ${PUBLISHER}"

!define MUI_ICON "${NSISDIR}\Contrib\Graphics\Icons\modern-install.ico"
!define MUI_UNICON "${NSISDIR}\Contrib\Graphics\Icons\modern-uninstall.ico"
!define MUI_FINISHPAGE_RUN "$INSTDIR\meterload.exe"
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\README.txt"
!define MUI_FINISHPAGE_SHOWREADME_NOTCHECKED
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; The registry view and the folders of the build's architecture.
!macro UseArchitecture
  SetShellVarContext all
  !if "${ARCH}" == "x64"
    SetRegView 64
  !endif
!macroend

Function .onInit
  !if "${ARCH}" == "x64"
    ${IfNot} ${RunningX64}
      MessageBox MB_ICONSTOP "This is the MeterLoad build for 64-bit Windows. Take the x86 installer on 32-bit Windows." /SD IDOK
      Abort
    ${EndIf}
  !endif
  !insertmacro UseArchitecture
  ; /D= on the command line comes first, then the folder of an earlier
  ; installation, then Program Files.
  ${If} $INSTDIR == ""
    ReadRegStr $INSTDIR HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${EndIf}
  ${If} $INSTDIR == ""
    !if "${ARCH}" == "x64"
      StrCpy $INSTDIR "$PROGRAMFILES64\${PRODUCT}"
    !else
      StrCpy $INSTDIR "$PROGRAMFILES32\${PRODUCT}"
    !endif
  ${EndIf}
FunctionEnd

Section "MeterLoad"
  SetOutPath "$INSTDIR"
  File "${STAGE}\meterload.exe"
  File "${STAGE}\meterload-cli.exe"
  File "${STAGE}\README.txt"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateShortcut "${SHORTCUT}" "$INSTDIR\meterload.exe" "" "$INSTDIR\meterload.exe" 0

  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT} (${ARCH})"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\meterload.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Function un.onInit
  !insertmacro UseArchitecture
FunctionEnd

; Only what the installer put there: a folder that holds files of the
; user's own stays, with them.
Section "Uninstall"
  Delete "$INSTDIR\meterload.exe"
  Delete "$INSTDIR\meterload-cli.exe"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  Delete "${SHORTCUT}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
