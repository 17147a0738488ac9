; Installer of Flash ЛОРТА-МОДЕМ for 64-bit Windows, made by scripts/build-windows:
;   makensis -INPUTCHARSET UTF8 -DVERSION=1.08 -DSTAGE=<folder with the .exe files>
;            -DICON=<icon> -DOUTFILE=<installer> lorta-flash.nsi
;
; The program goes into Program Files. It keeps its files "setting" and
; "settings.ini" in its working folder, and Program Files is not writable, so
; the Start-menu shortcut starts it in a folder under the shared documents
; that every user of the PC may write (a bench PC often has several
; operators). The uninstaller removes the program and the shortcuts and leaves
; that folder, with the operators' settings, alone.

; A 64-bit installer for the 64-bit program: it sees the real Program Files
; and registry, and Wine's 64-bit-only prefix can run it (scripts/check-windows).
Target amd64-unicode
!include "MUI2.nsh"
!include "x64.nsh"

!define PRODUCT "Flash ЛОРТА-МОДЕМ"
!define DATADIR "$DOCUMENTS\${PRODUCT}"
!define MENUDIR "$SMPROGRAMS\${PRODUCT}"
!define UNINSTKEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\lorta-flash"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
VIProductVersion "${VERSION}.0.0"
VIAddVersionKey /LANG=1049 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1049 "FileDescription" "Установка ${PRODUCT}"
VIAddVersionKey /LANG=1049 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1049 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1049 "LegalCopyright" "${PRODUCT}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_FINISHPAGE_RUN "$INSTDIR\lorta-flash.exe"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Russian"

Function .onInit
  ${IfNot} ${RunningX64}
    MessageBox MB_ICONSTOP "${PRODUCT} работает только в 64-разрядной Windows."
    Abort
  ${EndIf}
  SetRegView 64
  SetShellVarContext all
FunctionEnd

Function un.onInit
  SetRegView 64
  SetShellVarContext all
FunctionEnd

Section
  SetOutPath "$INSTDIR"
  File "${STAGE}/*.exe"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; The working folder: created once, writable by every user (BUILTIN\Users).
  CreateDirectory "${DATADIR}"
  nsExec::Exec 'icacls "${DATADIR}" /grant *S-1-5-32-545:(OI)(CI)M'
  Pop $0

  ; A shortcut's working folder is the output path at the moment it is made.
  SetOutPath "${DATADIR}"
  CreateDirectory "${MENUDIR}"
  CreateShortcut "${MENUDIR}\${PRODUCT}.lnk" "$INSTDIR\lorta-flash.exe"
  CreateShortcut "${MENUDIR}\Стенд ${PRODUCT}.lnk" "$INSTDIR\lorta-flash-bench.exe"
  CreateShortcut "${MENUDIR}\Папка настроек.lnk" "${DATADIR}"
  CreateShortcut "${MENUDIR}\Удалить ${PRODUCT}.lnk" "$INSTDIR\uninstall.exe"

  WriteRegStr HKLM "${UNINSTKEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTKEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTKEY}" "Publisher" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTKEY}" "DisplayIcon" "$INSTDIR\lorta-flash.exe"
  WriteRegStr HKLM "${UNINSTKEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTKEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegDWORD HKLM "${UNINSTKEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTKEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  Delete "${MENUDIR}\*.lnk"
  RMDir "${MENUDIR}"
  ; Only the installed programs: "setting" and "settings.ini" live in the
  ; working folder, which stays.
  Delete "$INSTDIR\*.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTKEY}"
SectionEnd
