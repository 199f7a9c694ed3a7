; The Corvella installer: both programs for the current user, no
; administrator needed, a Start-menu entry, and an uninstaller that Apps &
; features lists. /S installs or uninstalls without a question.
;   makensis -DVERSION=1.07 -DSTAGE=folder-with-the-files -DOUTFILE=setup.exe corvella.nsi
; A 64-bit installer for the 64-bit programs: it runs where they run.
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user

!define NAME "Corvella"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Corvella"

Name "${NAME} ${VERSION}"
OutFile "${OUTFILE}"
Icon "${STAGE}/corvella.ico"
UninstallIcon "${STAGE}/corvella.ico"
InstallDir "$LOCALAPPDATA\Programs\Corvella"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
ShowInstDetails show

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Function .onInit
  SetShellVarContext current
FunctionEnd

Function un.onInit
  SetShellVarContext current
FunctionEnd

Section "Corvella"
  SetOutPath "$INSTDIR"
  File "${STAGE}/corvella.exe"
  File "${STAGE}/corvella-cli.exe"
  File "${STAGE}/README.md"
  File "${STAGE}/LICENSE.txt"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortCut "$SMPROGRAMS\Corvella.lnk" "$INSTDIR\corvella.exe" "" "$INSTDIR\corvella.exe" 0
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${NAME}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\corvella.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "Corvella"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Only what the installer put there: a folder holding files of the user's
; own is left with them.
Section "Uninstall"
  Delete "$SMPROGRAMS\Corvella.lnk"
  Delete "$INSTDIR\corvella.exe"
  Delete "$INSTDIR\corvella-cli.exe"
  Delete "$INSTDIR\README.md"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
