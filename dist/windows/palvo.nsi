; The Windows installer of Palvo (NSIS 3, makensis), made by scripts/package.sh:
;
;   makensis -DVERSION=1.0.0 -DEXE_DIR=DIR -DOUT_FILE=palvo-1.0.0-setup.exe
;            -DWIZARD_BITMAP=FILE.bmp [-DICON=FILE.ico] dist/windows/palvo.nsi
;
; DIR holds palvo.exe and palvo-cli.exe of a Release build. It installs both
; into the chosen folder (default: Program Files\Palvo), a Start menu entry for
; the window program and an uninstaller listed under Add/Remove Programs.
; Silent: palvo-1.0.0-setup.exe /S [/D=FOLDER] (/D last; quotes around a
; folder with blanks are taken off), and uninstall.exe /S. FILE.bmp is the
; 164 by 314 picture of the finish page (dist/windows/make_wizard_bitmap.py).

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma

!ifndef VERSION | EXE_DIR | OUT_FILE | WIZARD_BITMAP
  !error "makensis needs -DVERSION=, -DEXE_DIR=, -DOUT_FILE= and -DWIZARD_BITMAP="
!endif

; The program's own version resource must carry the same version.
!getdllversion "${EXE_DIR}/palvo.exe" PALVO_EXE_
!if "${PALVO_EXE_1}.${PALVO_EXE_2}.${PALVO_EXE_3}" != "${VERSION}"
  !error "palvo.exe is version ${PALVO_EXE_1}.${PALVO_EXE_2}.${PALVO_EXE_3}, not ${VERSION}"
!endif

!include "MUI2.nsh"
!include "FileFunc.nsh"
!include "LogicLib.nsh"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Palvo"
!define APP_KEY "Software\Palvo"

Name "Palvo"
BrandingText "Palvo ${VERSION}"
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
!define MUI_WELCOMEFINISHPAGE_BITMAP "${WIZARD_BITMAP}"
!define MUI_CUSTOMFUNCTION_GUIINIT WidenButtons
!define MUI_CUSTOMFUNCTION_UNGUIINIT un.WidenButtons

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\palvo.exe"
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

; The program speaks Japanese; English for everybody else.
!insertmacro MUI_LANGUAGE "Japanese"
!insertmacro MUI_LANGUAGE "English"

LangString BadFolder ${LANG_JAPANESE} "インストール先のフォルダー名が正しくありません:$\r$\n$5"
LangString BadFolder ${LANG_ENGLISH} "The installation folder is not a valid path:$\r$\n$5"

; The standard buttons are too narrow for "インストール(I)": Back, Next and
; Cancel become half as wide again, right-aligned as before.
!macro WIDEN_BUTTONS
  System::Call "*(i,i,i,i)p.r9"
  GetDlgItem $0 $HWNDPARENT 2
  System::Call "user32::GetWindowRect(p r0, p r9)"
  System::Call "user32::MapWindowPoints(p 0, p $HWNDPARENT, p r9, i 2)"
  System::Call "*$9(i.r1, i.r2, i.r3, i.r4)"
  GetDlgItem $5 $HWNDPARENT 1
  System::Call "user32::GetWindowRect(p r5, p r9)"
  System::Call "user32::MapWindowPoints(p 0, p $HWNDPARENT, p r9, i 2)"
  System::Call "*$9(i, i, i.r7, i)"
  System::Free $9
  IntOp $8 $3 - $1
  IntOp $8 $8 * 3
  IntOp $8 $8 / 2
  IntOp $R0 $1 - $7
  IntOp $R1 $4 - $2
  IntOp $R2 $3 - $8
  System::Call "user32::SetWindowPos(p r0, p 0, i R2, i r2, i r8, i R1, i 0x14)"
  IntOp $R2 $R2 - $R0
  IntOp $R2 $R2 - $8
  System::Call "user32::SetWindowPos(p r5, p 0, i R2, i r2, i r8, i R1, i 0x14)"
  IntOp $R2 $R2 - $8
  GetDlgItem $5 $HWNDPARENT 3
  System::Call "user32::SetWindowPos(p r5, p 0, i R2, i r2, i r8, i R1, i 0x14)"
!macroend

Function WidenButtons
  !insertmacro WIDEN_BUTTONS
FunctionEnd

Function un.WidenButtons
  !insertmacro WIDEN_BUTTONS
FunctionEnd

; "/D=" takes the rest of the command line as it stands, and a folder it
; cannot use (quotes typed around one with blanks) is silently replaced by the
; default before this runs. The folder is therefore read from the command
; line itself: quotes around it are taken off, and one that is still not a
; whole path (a drive or a share) is refused rather than installed into
; somewhere else.
Function .onInit
  ; $INSTDIR drops a quote as it is set: the folder is read into $5 first.
  StrCpy $5 $INSTDIR
  System::Call "kernel32::GetCommandLineW() t.r0"
  StrLen $3 $0
  ${DoWhile} $3 > 0
    IntOp $3 $3 - 1
    StrCpy $4 $0 4 $3
    ${If} $4 == " /D="
      IntOp $3 $3 + 4
      StrCpy $5 $0 "" $3
      ${Break}
    ${EndIf}
  ${Loop}
  StrCpy $0 $5 1
  StrCpy $1 $5 "" -1
  StrLen $2 $5
  ${If} $0 == '"'
  ${AndIf} $1 == '"'
  ${AndIf} $2 > 2
    IntOp $2 $2 - 2
    StrCpy $5 $5 $2 1
  ${EndIf}
  StrCpy $0 $5 2 1
  StrCpy $1 $5 2
  ${If} $0 != ":\"
  ${AndIf} $1 != "\\"
    Goto refuse
  ${EndIf}
  StrLen $2 $5
  StrCpy $3 0
  ${DoWhile} $3 < $2
    StrCpy $0 $5 1 $3
    ${If} $0 == '"'
      Goto refuse
    ${EndIf}
    IntOp $3 $3 + 1
  ${Loop}
  StrCpy $INSTDIR $5
  Return
refuse:
  MessageBox MB_OK|MB_ICONSTOP "$(BadFolder)" /SD IDOK
  SetErrorLevel 2
  Quit
FunctionEnd

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
