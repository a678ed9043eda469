; Setup program for the trelvane suite, x86-64. Built by the `installer`
; target of packaging/CMakeLists.txt, which passes on the command line:
;   VERSION  the project version (three numbers)
;   STAGE    the staged tree: trelvane/program/..., ambrelle/program_ROSKA/BB.ico
;   OUTFILE  the setup program to write
;   PICKER   defined when file_picker.exe is part of the tree
;   MODELS_NSH  a file defining the macro MODEL_PROGRAMS action, which inserts
;            the macro "action" once for each model program of the tree,
;            given its file name (such as ROSKA_mid_15.exe); without it,
;            MODEL_PROGRAMS inserts nothing
;
; The programs find everything by fixed absolute paths, so every path here
; is absolute and the install place is not offered as a choice: $INSTDIR
; (and a /D= on the command line) is never used.
;
; Exit status: 0 done; 1 cancelled by the user; 2 stopped because a folder
; or the hand-off file could not be protected (nothing of ours was written);
; 3 stopped because model_chooser is running (nothing was changed).

Target amd64-unicode
SetCompressor /SOLID lzma
; The same staged files give the same setup program: no file times inside.
SetDateSave off

!include LogicLib.nsh
!ifdef MODELS_NSH
  !include "${MODELS_NSH}"
!else
  !macro MODEL_PROGRAMS action
  !macroend
!endif

!define ROOT "C:\trelvane"
!define PROGRAM_DIR "${ROOT}\program"
!define HANDOFF_DIR "${ROOT}\tep"
!define HANDOFF_FILE "${HANDOFF_DIR}\zzz0000quib.txt"
!define ICON_PARENT "C:\ambrelle"
!define ICON_DIR "${ICON_PARENT}\program_ROSKA"
!define UNINSTALLER "${PROGRAM_DIR}\uninstall.exe"
!define SHORTCUT "$SMPROGRAMS\trelvane analysis.lnk"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\trelvane"
; model_chooser's main window: its class and its title.
!define CHOOSER_WINDOW "The trelvane analysis "
!define STATUS_CHOOSER_RUNNING 3

; Access rules (SDDL). The programs run whatever lies at their fixed paths,
; often for an administrator, so nobody else may change what is there. Both
; rules are protected (P): nothing is inherited from C:\, whose default rule
; lets every signed-in user modify what lies below it.
;
; Every folder: SYSTEM and Administrators full control; Users read and
; execute (list, read, traverse, run: FRFX = 0x1200A9), no write right of
; any kind, so no file or folder can be added, renamed, deleted or replaced.
; OW (OWNER RIGHTS) caps the owner at the same: a folder another user made
; before the install keeps that owner, who would otherwise keep the right
; to change its rules. OICI passes every entry on to the files and folders
; below, also those an administrator places later (the model programs).
!define FOLDER_DACL "D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FRFX;;;BU)(A;OICI;FRFX;;;OW)"
; The hand-off file, which file_picker replaces for whoever runs it: it
; opens the file with GENERIC_WRITE and CREATE_ALWAYS, which cuts an
; existing file to zero length and needs every right of FILE_GENERIC_WRITE
; (write and append data, write attributes and extended attributes) but not
; DELETE. Users get read and those (FRFW = 0x12019F); no DELETE, WRITE_DAC
; or WRITE_OWNER, and the folder gives them no FILE_DELETE_CHILD, so the
; file cannot be deleted, renamed or swapped for a link. Users cannot create
; it either (no FILE_ADD_FILE on the folder): the setup program does.
!define HANDOFF_DACL "D:PAI(A;;FA;;;SY)(A;;FA;;;BA)(A;;FRFW;;;BU)(A;;FRFW;;;OW)"

; SetSecurityInfo: SE_FILE_OBJECT; DACL_SECURITY_INFORMATION |
; PROTECTED_DACL_SECURITY_INFORMATION.
!define SE_FILE_OBJECT 1
!define SET_PROTECTED_DACL 0x80000004
; CreateFileW: READ_CONTROL | WRITE_DAC | FILE_READ_ATTRIBUTES; every
; sharing mode; FILE_FLAG_BACKUP_SEMANTICS (folders too) |
; FILE_FLAG_OPEN_REPARSE_POINT (the link itself, never what it points at).
!define OPEN_FOR_RULES 0x00060080
!define SHARE_ALL 7
!define OPEN_AS_ITSELF 0x02200000
!define FILE_ATTRIBUTE_DIRECTORY 0x10
!define FILE_ATTRIBUTE_REPARSE_POINT 0x400
!define OPEN_EXISTING 3
; The new hand-off file: GENERIC_WRITE, CREATE_NEW, FILE_ATTRIBUTE_NORMAL |
; FILE_FLAG_OPEN_REPARSE_POINT.
!define GENERIC_WRITE 0x40000000
!define CREATE_NEW 1
!define NEW_FILE_FLAGS 0x00200080
!define ERROR_FILE_EXISTS 80

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

; Setup and uninstaller leave model_chooser's files alone while it runs:
; the user is asked to close it (Retry) or to stop (Cancel); silent, the
; program ends at once with STATUS_CHOOSER_RUNNING, before changing anything.
!macro WAIT_FOR_CHOOSER_CLOSED what
  retry:
    FindWindow $0 "${CHOOSER_WINDOW}" "${CHOOSER_WINDOW}"
    StrCmp $0 0 closed
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
      "model_chooser is running. Close its window $\"${CHOOSER_WINDOW}$\" and press Retry, or press Cancel to stop the ${what}." \
      /SD IDCANCEL IDRETRY retry
    SetErrorLevel ${STATUS_CHOOSER_RUNNING}
    Quit
  closed:
!macroend

Function .onInit
  !insertmacro WAIT_FOR_CHOOSER_CLOSED "setup"
FunctionEnd

Function un.onInit
  !insertmacro WAIT_FOR_CHOOSER_CLOSED "uninstall"
FunctionEnd

; Ends the setup with status 2 and the message in $8.
Function StopSetup
  DetailPrint "Setup stopped: $8"
  MessageBox MB_OK|MB_ICONSTOP "Setup stopped: $8" /SD IDOK
  SetErrorLevel 2
  Abort
FunctionEnd

; Checks that the open handle $5 is what $R0 should be ($R2: folder or
; file): not a link or junction, and a file with no second name (a hard
; link would share its rules with a file elsewhere). Sets $8 to what is
; wrong, or leaves it empty.
Function CheckOpened
  System::Call '*(&i52) p .r6'
  System::Call 'kernel32::GetFileInformationByHandle(p r5, p r6) i .r0 ?e'
  Pop $9
  ; BY_HANDLE_FILE_INFORMATION: the attributes first, the number of links
  ; at offset 40.
  System::Call '*$6(i .r7, l, l, l, i, i, i, i .r4)'
  System::Free $6
  IntOp $6 $7 & ${FILE_ATTRIBUTE_REPARSE_POINT}
  IntOp $7 $7 & ${FILE_ATTRIBUTE_DIRECTORY}
  ${If} $0 = 0
    StrCpy $8 "cannot read what $R0 is (system error $9)."
  ${ElseIf} $6 <> 0
    StrCpy $8 "$R0 is a link or junction; remove it and run the setup again."
  ${ElseIf} $R2 == folder
  ${AndIf} $7 = 0
    StrCpy $8 "$R0 is a file, not a folder; remove it and run the setup again."
  ${ElseIf} $R2 == file
  ${AndIf} $7 <> 0
    StrCpy $8 "$R0 is a folder, not a file; remove it and run the setup again."
  ${ElseIf} $R2 == file
  ${AndIf} $4 <> 1
    StrCpy $8 "$R0 has other names (hard links); remove it and run the setup again."
  ${EndIf}
FunctionEnd

; Gives $R0 (a $R2: folder or file) the access rule $R1 (SDDL), protected
; from inheritance. The rule goes on the object itself, opened without
; following links, and it is checked before and after, so a link planted
; by another user cannot redirect the rule to another object. SetSecurityInfo
; also passes a folder's inheritable entries on to what it already holds.
; Any failure stops the setup.
Function Protect
  StrCpy $8 ""
  StrCpy $5 -1
  System::Call 'advapi32::ConvertStringSecurityDescriptorToSecurityDescriptorW(w R1, i 1, *p .r1, p 0) i .r0 ?e'
  Pop $9
  ${If} $0 = 0
    StrCpy $1 0
    StrCpy $8 "the access rule $R1 is not valid (system error $9)."
  ${Else}
    System::Call 'advapi32::GetSecurityDescriptorDacl(p r1, *i .r2, *p .r3, *i) i .r0'
    ${If} $0 = 0
    ${OrIf} $2 = 0
      StrCpy $8 "the access rule $R1 holds no DACL."
    ${EndIf}
  ${EndIf}
  ${If} $8 == ""
    System::Call 'kernel32::CreateFileW(w R0, i ${OPEN_FOR_RULES}, i ${SHARE_ALL}, p 0, i ${OPEN_EXISTING}, i ${OPEN_AS_ITSELF}, p 0) p .r5 ?e'
    Pop $9
    ${If} $5 == -1
      StrCpy $8 "cannot open $R0 to protect it (system error $9)."
    ${Else}
      Call CheckOpened
    ${EndIf}
  ${EndIf}
  ${If} $8 == ""
    System::Call 'advapi32::SetSecurityInfo(p r5, i ${SE_FILE_OBJECT}, i ${SET_PROTECTED_DACL}, p 0, p 0, p r3, p 0) i .r0'
    ${If} $0 <> 0
      StrCpy $8 "cannot set the access rule of $R0 (system error $0)."
    ${Else}
      Call CheckOpened
    ${EndIf}
  ${EndIf}
  ${If} $5 != -1
    System::Call 'kernel32::CloseHandle(p r5)'
  ${EndIf}
  ${If} $1 != 0
    System::Call 'kernel32::LocalFree(p r1)'
  ${EndIf}
  ${If} $8 != ""
    Call StopSetup
  ${EndIf}
  DetailPrint "Protected $R0"
FunctionEnd

!macro PROTECT path kind rule
  StrCpy $R0 "${path}"
  StrCpy $R2 ${kind}
  StrCpy $R1 "${rule}"
  Call Protect
!macroend

; A folder, made if it is missing, then protected. Folders go top down:
; once a parent is protected only an administrator can add to it, and what
; another user put there before is checked by Protect.
!macro PROTECTED_FOLDER path
  CreateDirectory "${path}"
  !insertmacro PROTECT "${path}" folder "${FOLDER_DACL}"
!macroend

; The hand-off file holds CR LF alone ("nothing chosen") when the setup
; makes it; an existing one keeps what it holds. CREATE_NEW with
; FILE_FLAG_OPEN_REPARSE_POINT never opens or follows anything that is
; there already.
Function MakeHandoffFile
  System::Call 'kernel32::CreateFileW(w "${HANDOFF_FILE}", i ${GENERIC_WRITE}, i 0, p 0, i ${CREATE_NEW}, i ${NEW_FILE_FLAGS}, p 0) p .r5 ?e'
  Pop $9
  ${If} $5 != -1
    System::Call 'kernel32::WriteFile(p r5, m "$\r$\n", i 2, *i .r6, p 0) i .r0 ?e'
    Pop $9
    System::Call 'kernel32::CloseHandle(p r5)'
    ${If} $0 = 0
    ${OrIf} $6 <> 2
      StrCpy $8 "cannot write ${HANDOFF_FILE} (system error $9)."
      Call StopSetup
    ${EndIf}
  ${ElseIf} $9 <> ${ERROR_FILE_EXISTS}
    StrCpy $8 "cannot create ${HANDOFF_FILE} (system error $9)."
    Call StopSetup
  ${EndIf}
FunctionEnd

; Each of our files is removed before it is written: a file written over
; keeps the owner and access rules of the one it replaces.
!macro OUR_FILE name
  Delete "${PROGRAM_DIR}\${name}"
  File "${STAGE}\trelvane\program\${name}"
!macroend
!macro REMOVE_OUR_FILE name
  Delete "${PROGRAM_DIR}\${name}"
!macroend

Section "trelvane"
  ; The shortcut and the uninstall entry are for all users, as is C:\.
  SetShellVarContext all

  ; Every folder is protected, top down, before anything of ours is written.
  !insertmacro PROTECTED_FOLDER "${ROOT}"
  !insertmacro PROTECTED_FOLDER "${PROGRAM_DIR}"
  !insertmacro PROTECTED_FOLDER "${HANDOFF_DIR}"
  !insertmacro PROTECTED_FOLDER "${ICON_PARENT}"
  !insertmacro PROTECTED_FOLDER "${ICON_DIR}"
  ; The rest of the hand-off directory is the user's.
  Call MakeHandoffFile
  !insertmacro PROTECT "${HANDOFF_FILE}" file "${HANDOFF_DACL}"

  SetOutPath "${PROGRAM_DIR}"
  !insertmacro OUR_FILE model_chooser.exe
!ifdef PICKER
  !insertmacro OUR_FILE file_picker.exe
!endif
  !insertmacro OUR_FILE program_Main.txt
  ; The model programs the suite ships replace whatever lies at their paths.
  !insertmacro MODEL_PROGRAMS OUR_FILE

  SetOutPath "${ICON_DIR}"
  Delete "${ICON_DIR}\BB.ico"
  File "${STAGE}\ambrelle\program_ROSKA\BB.ico"

  ; The shortcut starts the chooser in its own directory.
  SetOutPath "${PROGRAM_DIR}"
  CreateShortcut "${SHORTCUT}" "${PROGRAM_DIR}\model_chooser.exe" "" "${ICON_DIR}\BB.ico" 0

  Delete "${UNINSTALLER}"
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

; Removes exactly what the section above put in place. Model programs the
; suite does not ship (placed beside ours by an administrator) and the
; files in the hand-off directory (the hand-off file too) are not ours, so
; every file is named and every directory goes only when it is empty
; (no /r).
Section "Uninstall"
  SetShellVarContext all

  Delete "${PROGRAM_DIR}\model_chooser.exe"
!ifdef PICKER
  Delete "${PROGRAM_DIR}\file_picker.exe"
!endif
  Delete "${PROGRAM_DIR}\program_Main.txt"
  !insertmacro MODEL_PROGRAMS REMOVE_OUR_FILE
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
