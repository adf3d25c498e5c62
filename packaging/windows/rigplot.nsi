Target amd64-unicode
; The RIGPLOT installer for 64-bit Windows: rigplot.exe and rigplotd.exe in
; Program Files, a Start-menu shortcut for rigplot, and an uninstaller listed
; in Add/Remove Programs. /S installs and uninstalls silently.
;
; Built by the Windows build (cmake/installer.cmake):
;   makensis -DVERSION=X.Y.Z -DRIGPLOT_EXE=... -DRIGPLOTD_EXE=... -DREADME=... -DOUTFILE=... rigplot.nsi

!ifndef VERSION | RIGPLOT_EXE | RIGPLOTD_EXE | README | OUTFILE
  !error "VERSION, RIGPLOT_EXE, RIGPLOTD_EXE, README and OUTFILE must be defined"
!endif

!include "FileFunc.nsh"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\RIGPLOT"

Name "RIGPLOT ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\RIGPLOT"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "RIGPLOT"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileDescription" "RIGPLOT ${VERSION} setup"
VIAddVersionKey /LANG=1033 "LegalCopyright" "RIGPLOT maintainers"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; Machine-wide: the 64-bit registry view, the shortcut for every user.
Function .onInit
  SetRegView 64
  SetShellVarContext all
FunctionEnd

Function un.onInit
  SetRegView 64
  SetShellVarContext all
FunctionEnd

Section "RIGPLOT"
  SetOutPath "$INSTDIR"
  File "/oname=rigplot.exe" "${RIGPLOT_EXE}"
  File "/oname=rigplotd.exe" "${RIGPLOTD_EXE}"
  File "/oname=README.md" "${README}"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; rigplot reads RIGPLOT.ini from the folder it starts in: from the Start
  ; menu that is the user's own folder, which the shell fills in at start.
  StrCpy $OUTDIR "%USERPROFILE%"
  CreateShortCut "$SMPROGRAMS\RIGPLOT.lnk" "$INSTDIR\rigplot.exe" "" "$INSTDIR\rigplot.exe" 0
  SetOutPath "$INSTDIR"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "RIGPLOT"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "RIGPLOT maintainers"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\rigplot.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section "Uninstall"
  Delete "$SMPROGRAMS\RIGPLOT.lnk"
  Delete "$INSTDIR\rigplot.exe"
  Delete "$INSTDIR\rigplotd.exe"
  Delete "$INSTDIR\README.md"
  Delete "$INSTDIR\uninstall.exe"
  ; Only if empty: files a user put there stay.
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
