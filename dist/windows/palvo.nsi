; The Windows installer of Palvo (NSIS 3, makensis), made by scripts/package.sh:
;
;   makensis -DVERSION=1.0.0 -DEXE_DIR=DIR -DOUT_FILE=palvo-1.0.0-setup.exe
;            [-DICON=FILE.ico] dist/windows/palvo.nsi
;
; DIR holds palvo.exe and palvo-cli.exe of a Release build. It installs both
; into the chosen folder (default: Program Files\Palvo), a Start menu entry for
; the window program and an uninstaller listed under Add/Remove Programs.
; Silent: palvo-1.0.0-setup.exe /S [/D=FOLDER] (/D last, unquoted), and
; uninstall.exe /S.

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma

!ifndef VERSION | EXE_DIR | OUT_FILE
  !error "makensis needs -DVERSION=, -DEXE_DIR= and -DOUT_FILE="
!endif

; The program's own version resource must carry the same version.
!getdllversion "${EXE_DIR}/palvo.exe" PALVO_EXE_
!if "${PALVO_EXE_1}.${PALVO_EXE_2}.${PALVO_EXE_3}" != "${VERSION}"
  !error "palvo.exe is version ${PALVO_EXE_1}.${PALVO_EXE_2}.${PALVO_EXE_3}, not ${VERSION}"
!endif

!include "MUI2.nsh"
!include "FileFunc.nsh"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Palvo"
!define APP_KEY "Software\Palvo"

Name "Palvo"
OutFile "${OUT_FILE}"
InstallDir "$PROGRAMFILES64\Palvo"
InstallDirRegKey HKLM "${APP_KEY}" "InstallDir"
RequestExecutionLevel admin
ShowInstDetails nevershow
ShowUninstDetails nevershow

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey /LANG=1041 "ProductName" "Palvo"
VIAddVersionKey /LANG=1041 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1041 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1041 "FileDescription" "Palvo ${VERSION} setup"
VIAddVersionKey /LANG=1041 "LegalCopyright" "Copyright 2026 Palvo developers"

!ifdef ICON
  !define MUI_ICON "${ICON}"
  !define MUI_UNICON "${ICON}"
!endif
!define MUI_ABORTWARNING

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\palvo.exe"
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

; The program speaks Japanese; English for everybody else.
!insertmacro MUI_LANGUAGE "Japanese"
!insertmacro MUI_LANGUAGE "English"

Section "Palvo"
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File "${EXE_DIR}/palvo.exe"
  File "${EXE_DIR}/palvo-cli.exe"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "$SMPROGRAMS\Palvo.lnk" "$INSTDIR\palvo.exe"

  WriteRegStr HKLM "${APP_KEY}" "InstallDir" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Palvo"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Palvo"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\palvo.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

; Only what the installer put there: a folder the user keeps files in stays,
; and so does the PIN the program keeps under the handset driver's key.
Section "Uninstall"
  SetShellVarContext all
  Delete "$INSTDIR\palvo.exe"
  Delete "$INSTDIR\palvo-cli.exe"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\Palvo.lnk"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  DeleteRegKey HKLM "${APP_KEY}"
SectionEnd
