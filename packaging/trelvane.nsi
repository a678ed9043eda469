; Setup program for the trelvane suite, x86-64. Built by the `installer`
; target of packaging/CMakeLists.txt, which passes on the command line:
;   VERSION  the project version (three numbers)
;   STAGE    the staged tree: trelvane/program/..., ambrelle/program_ROSKA/BB.ico
;   OUTFILE  the setup program to write
;   PICKER   defined when file_picker.exe is part of the tree
;
; The programs find everything by fixed absolute paths, so every path here
; is absolute and the install place is not offered as a choice: $INSTDIR
; (and a /D= on the command line) is never used.

Target amd64-unicode
SetCompressor /SOLID lzma
; The same staged files give the same setup program: no file times inside.
SetDateSave off

!define ROOT "C:\trelvane"
!define PROGRAM_DIR "${ROOT}\program"
!define HANDOFF_DIR "${ROOT}\tep"
!define ICON_PARENT "C:\ambrelle"
!define ICON_DIR "${ICON_PARENT}\program_ROSKA"
!define UNINSTALLER "${PROGRAM_DIR}\uninstall.exe"
!define SHORTCUT "$SMPROGRAMS\trelvane analysis.lnk"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\trelvane"

Name "trelvane ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "${ROOT}"
RequestExecutionLevel admin
ShowInstDetails show
ShowUninstDetails show

; No copyright line is stated for the suite.
!pragma warning disable 9100
VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "trelvane"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileDescription" "trelvane setup"

Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "trelvane"
  ; The shortcut and the uninstall entry are for all users, as is C:\.
  SetShellVarContext all

  SetOutPath "${PROGRAM_DIR}"
  File "${STAGE}\trelvane\program\model_chooser.exe"
!ifdef PICKER
  File "${STAGE}\trelvane\program\file_picker.exe"
!endif
  File "${STAGE}\trelvane\program\program_Main.txt"

  ; The hand-off directory starts empty; what lands there is the user's.
  CreateDirectory "${HANDOFF_DIR}"

  SetOutPath "${ICON_DIR}"
  File "${STAGE}\ambrelle\program_ROSKA\BB.ico"

  ; The shortcut starts the chooser in its own directory.
  SetOutPath "${PROGRAM_DIR}"
  CreateShortcut "${SHORTCUT}" "${PROGRAM_DIR}\model_chooser.exe" "" "${ICON_DIR}\BB.ico" 0

  WriteUninstaller "${UNINSTALLER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "trelvane"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "${ICON_DIR}\BB.ico"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "${ROOT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"${UNINSTALLER}"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"${UNINSTALLER}" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Removes exactly what the section above put in place. The model programs
; beside ours and the files in the hand-off directory are not ours, so every
; file is named and every directory goes only when it is empty (no /r).
Section "Uninstall"
  SetShellVarContext all

  Delete "${PROGRAM_DIR}\model_chooser.exe"
!ifdef PICKER
  Delete "${PROGRAM_DIR}\file_picker.exe"
!endif
  Delete "${PROGRAM_DIR}\program_Main.txt"
  Delete "${ICON_DIR}\BB.ico"
  Delete "${SHORTCUT}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ; The uninstaller runs from a copy in the temporary directory, so it can
  ; remove itself.
  Delete "${UNINSTALLER}"

  RMDir "${HANDOFF_DIR}"
  RMDir "${PROGRAM_DIR}"
  RMDir "${ROOT}"
  RMDir "${ICON_DIR}"
  RMDir "${ICON_PARENT}"
SectionEnd
