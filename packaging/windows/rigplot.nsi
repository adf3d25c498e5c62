Target amd64-unicode
; SPDX-License-Identifier: MIT
; The RIGPLOT installer for 64-bit Windows: rigplot.exe and rigplotd.exe in
; Program Files, a Start-menu shortcut for rigplot, and an uninstaller listed
; in Add/Remove Programs. /S installs and uninstalls silently.
;
; A running rigplot.exe or rigplotd.exe cannot be replaced or removed: both
; directions ask to close it first, and silently they change nothing and exit
; with status 2. `uninstall.exe /S _?=<folder>` returns once the files are gone;
; status 3010 when its own file could only be removed at the next restart.
;
; Built by the Windows build (cmake/installer.cmake):
;   makensis -DVERSION=X.Y.Z -DRIGPLOT_EXE=... -DRIGPLOTD_EXE=... -DREADME=...
;     -DLICENSE=... -DNOTICES=... -DOUTFILE=... rigplot.nsi

!ifndef VERSION | RIGPLOT_EXE | RIGPLOTD_EXE | README | LICENSE | NOTICES | OUTFILE
  !error "VERSION, RIGPLOT_EXE, RIGPLOTD_EXE, README, LICENSE, NOTICES and OUTFILE must be defined"
!endif

!include "FileFunc.nsh"
!include "LogicLib.nsh"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\RIGPLOT"

Name "RIGPLOT ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\RIGPLOT"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
ShowInstDetails show
ShowUninstDetails show
; A file that cannot be written ends the install with an error, never skipped.
AllowSkipFiles off
LicenseData "${LICENSE}"

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "RIGPLOT"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileDescription" "RIGPLOT ${VERSION} setup"
VIAddVersionKey /LANG=1033 "LegalCopyright" "RIGPLOT maintainers"

Page license
Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; $R9 becomes NAME when that program in $INSTDIR is running: Windows opens a
; running program's file for reading only.
!macro FIND_RUNNING NAME
  ${If} $R9 == ""
  ${AndIf} ${FileExists} "$INSTDIR\${NAME}"
    ClearErrors
    FileOpen $R8 "$INSTDIR\${NAME}" a
    ${If} ${Errors}
      StrCpy $R9 "${NAME}"
    ${Else}
      FileClose $R8
    ${EndIf}
  ${EndIf}
!macroend

; Until neither program runs: asks to close it, or quits with status 2 having
; changed nothing (silent, or Cancel).
!macro CLOSE_RUNNING PREFIX
Function ${PREFIX}CloseRunning
  retry:
  StrCpy $R9 ""
  !insertmacro FIND_RUNNING rigplot.exe
  !insertmacro FIND_RUNNING rigplotd.exe
  ${If} $R9 != ""
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
      "RIGPLOT is running ($INSTDIR\$R9). Close it, then choose Retry." /SD IDCANCEL IDRETRY retry
    SetErrorLevel 2
    Quit
  ${EndIf}
FunctionEnd
!macroend
!insertmacro CLOSE_RUNNING ""
!insertmacro CLOSE_RUNNING "un."

; Machine-wide: the 64-bit registry view, the shortcut for every user.
Function .onInit
  SetRegView 64
  SetShellVarContext all
  Call CloseRunning
FunctionEnd

Function un.onInit
  SetRegView 64
  SetShellVarContext all
  Call un.CloseRunning
FunctionEnd

Section "RIGPLOT"
  ; Again: a program started since, or a folder chosen on the directory page.
  Call CloseRunning
  SetOutPath "$INSTDIR"
  File "/oname=rigplot.exe" "${RIGPLOT_EXE}"
  File "/oname=rigplotd.exe" "${RIGPLOTD_EXE}"
  File "/oname=README.md" "${README}"
  File "/oname=LICENSE.txt" "${LICENSE}"
  File "/oname=THIRD-PARTY-NOTICES.txt" "${NOTICES}"
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
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S _?=$INSTDIR'
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
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\THIRD-PARTY-NOTICES.txt"
  Delete "$INSTDIR\uninstall.exe"
  ${If} ${FileExists} "$INSTDIR\uninstall.exe"
    ; Run in place (_?=), so that its caller waits. Windows lets a running
    ; program be moved though not deleted: it goes to TEMP until the next
    ; restart. Where it cannot move (Wine), it goes at the restart, and the
    ; exit status says one is needed.
    GetTempFileName $0
    Delete $0
    ClearErrors
    Rename "$INSTDIR\uninstall.exe" $0
    ${If} ${Errors}
      Delete /REBOOTOK "$INSTDIR\uninstall.exe"
      StrCpy $R7 restart
    ${Else}
      Delete /REBOOTOK $0
    ${EndIf}
  ${EndIf}
  ; Only if empty: files a user put there stay.
  ${If} $R7 == restart
    RMDir /REBOOTOK "$INSTDIR"
    SetErrorLevel 3010  ; ERROR_SUCCESS_REBOOT_REQUIRED
  ${Else}
    RMDir "$INSTDIR"
  ${EndIf}
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
