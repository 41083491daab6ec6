; Runs the post-install and uninstall action from an NSIS installer, and takes
; a failed installation back without taking away the product that was there,
; whatever step fails: a registration, a file that can't be written, a full
; disk, a file in use, the uninstaller that can't be written.
; The script that includes this defines, before it:
;   ACTION         the action's file name under $INSTDIR
;   UNINSTALL_KEY  the product's entry under HKLM (Add/Remove Programs),
;                  with its InstallLocation
;   FOR_EACH_PRODUCT_FILE MACRO  a macro that inserts MACRO with the folder
;                  (under the product's folder, "" or "\Sub") and the name of
;                  every file the product lays down, the uninstaller included
; and, for tests only, DETAILS_FILE: a file that the lines the installer
; shows about the action are also appended to, since a silent installation
; shows none. Needs LogicLib and FileFunc.
;
; It gives the installer:
;   RUN_ACTION PASS             runs the action, its exit code in $0
;   KeepInstalledFilesAside     call before laying down any file
;   FinishInstallation          call once the installation has succeeded
;   TakeBackFailedInstallation  call from .onInstFailed
; and the uninstaller:
;   REMOVE_PRODUCT              the uninstall pass, the files and the entry

; The installed product's folder, as its entry names it, empty when none; 1
; in InstalledHere when that folder is $INSTDIR, however either is spelt;
; where the installed files this installation replaces wait until it
; succeeds; whether anything may have changed yet ("" until the first file
; is touched); the folder whose product files a macro below deletes; and 1
; when a file could not be moved aside or back.
Var PreviousFolder
Var InstalledHere
Var KeptAside
Var Changing
Var FilesIn
Var NotMoved

!macro REPORT LINE
    DetailPrint "${LINE}"
    !ifdef DETAILS_FILE
        FileOpen $9 "${DETAILS_FILE}" a
        FileSeek $9 0 END
        FileWrite $9 "${LINE}$\r$\n"
        FileClose $9
    !endif
!macroend

; Runs the action with PASS ("-Post_install 1 ..." or "-uninstall 1") and
; waits. With -echo it writes each record of its log to its output, as UTF-16
; after a byte-order mark, which nsExec::ExecToLog reads as such and shows in
; the installer's details as it comes, letters outside ASCII included.
; $INSTDIR has no trailing backslash; the action takes the folder with or
; without one, and one is added so that the folder reads as a folder. It is
; doubled so that the closing quote stays a quote when the action splits its
; command line. Leaves in $0 the action's exit code, or
; "error" when it could not be started at all.
!macro RUN_ACTION PASS
    ; The action and what it starts inherit the working folder: one outside
    ; the product (a folder in use as one can't be removed), and one that only
    ; administrators can write, since DLLs may be looked for there. The
    ; temporary folder is neither when the installer runs as the system
    ; account (C:\Windows\Temp, where any user can create files).
    SetOutPath "$SYSDIR"
    nsExec::ExecToLog '"$INSTDIR\${ACTION}" ${PASS} -echo 1 -installDir "$INSTDIR\\"'
    Pop $0
    ${If} $0 == "error"
        !insertmacro REPORT "${ACTION} could not be started"
    ${Else}
        !insertmacro REPORT "${ACTION} exited with $0"
    ${EndIf}
!macroend

; Whether $PreviousFolder is $INSTDIR, whatever the spelling of either (a
; short name, another case, a trailing backslash, another drive letter for
; the same place): a file made in the one is looked for in the other. Leaves
; 1 or 0 in $InstalledHere, or "unknown" when no file could be made there.
!macro DEFINE_IS_INSTALLED_HERE PREFIX
Function ${PREFIX}IsInstalledHere
    Push $R0
    Push $R1
    StrCpy $InstalledHere 0
    ${If} $PreviousFolder != ""
    ${AndIf} ${FileExists} "$PreviousFolder\*.*"
        StrCpy $InstalledHere "unknown"
        GetTempFileName $R0 "$PreviousFolder"
        ${If} $R0 != ""
            StrCpy $InstalledHere 0
            ${GetFileName} $R0 $R1
            ${If} ${FileExists} "$INSTDIR\$R1"
                StrCpy $InstalledHere 1
            ${EndIf}
            Delete $R0
        ${EndIf}
    ${EndIf}
    Pop $R1
    Pop $R0
FunctionEnd
!macroend
!insertmacro DEFINE_IS_INSTALLED_HERE ""
!insertmacro DEFINE_IS_INSTALLED_HERE "un."

; The product's files in $FilesIn, deleted with the folders they leave empty.
!macro DELETE_PRODUCT_FILE FOLDER NAME
    Delete "$FilesIn${FOLDER}\${NAME}"
    RMDir "$FilesIn${FOLDER}"
!macroend
!macro DELETE_PRODUCT_FILES FOLDER
    StrCpy $FilesIn "${FOLDER}"
    !insertmacro FOR_EACH_PRODUCT_FILE DELETE_PRODUCT_FILE
    RMDir "${FOLDER}"
!macroend
; The uninstall pass of the action in $INSTDIR, where there is one, then its
; files. The pass runs first, while the component is still there.
!macro REMOVE_FILES
    ${If} ${FileExists} "$INSTDIR\${ACTION}"
        !insertmacro RUN_ACTION "-uninstall 1"
    ${EndIf}
    !insertmacro DELETE_PRODUCT_FILES "$INSTDIR"
!macroend

; What the uninstaller removes. An uninstaller left in a folder the product
; has moved from (run from a script that remembers the old place) finds the
; entry naming another folder: it removes its own folder's files only, and
; neither unregisters the classes the product now serves from there nor
; deletes the entry.
!macro REMOVE_PRODUCT
    ReadRegStr $PreviousFolder HKLM "${UNINSTALL_KEY}" "InstallLocation"
    Call un.IsInstalledHere
    ${If} $PreviousFolder != ""
    ${AndIf} $InstalledHere == 0
    ${AndIf} ${FileExists} "$PreviousFolder\${ACTION}"
        !insertmacro REPORT "The product is installed in $PreviousFolder; only the files in $INSTDIR were removed"
        !insertmacro DELETE_PRODUCT_FILES "$INSTDIR"
    ${Else}
        !insertmacro REMOVE_FILES
        DeleteRegKey HKLM "${UNINSTALL_KEY}"
    ${EndIf}
!macroend

; The installed product's files are moved, not copied: on the same volume,
; beside them, in a folder that outlives the installer, so that nothing can
; half-overwrite them and a failed installation can put them back whole.
!macro MOVE_ASIDE FOLDER NAME
    ${If} ${FileExists} "$INSTDIR${FOLDER}\${NAME}"
        CreateDirectory "$KeptAside${FOLDER}"
        ClearErrors
        Rename "$INSTDIR${FOLDER}\${NAME}" "$KeptAside${FOLDER}\${NAME}"
        ${If} ${Errors}
            StrCpy $NotMoved 1
        ${EndIf}
    ${EndIf}
!macroend
!macro PUT_BACK FOLDER NAME
    ${If} ${FileExists} "$KeptAside${FOLDER}\${NAME}"
        Delete "$INSTDIR${FOLDER}\${NAME}"
        CreateDirectory "$INSTDIR${FOLDER}"
        ClearErrors
        Rename "$KeptAside${FOLDER}\${NAME}" "$INSTDIR${FOLDER}\${NAME}"
        ${If} ${Errors}
            StrCpy $NotMoved 1
        ${EndIf}
    ${EndIf}
!macroend
; The kept-aside folders, each removed once it is empty.
!macro REMOVE_KEPT_FOLDER FOLDER NAME
    RMDir "$KeptAside${FOLDER}"
!macroend
!macro PUT_ALL_BACK
    StrCpy $NotMoved ""
    !insertmacro FOR_EACH_PRODUCT_FILE PUT_BACK
    !insertmacro FOR_EACH_PRODUCT_FILE REMOVE_KEPT_FOLDER
    RMDir "$KeptAside"
!macroend

; Call before laying down any file. Finds out what is installed and where;
; an installation over the product in its own folder first moves the files
; it will replace aside. Nothing is laid down if they can't all be moved (a
; file in use): those already moved go back, and the installation is
; aborted with nothing changed.
Function KeepInstalledFilesAside
    ReadRegStr $PreviousFolder HKLM "${UNINSTALL_KEY}" "InstallLocation"
    Call IsInstalledHere
    ${If} $InstalledHere == "unknown"
        !insertmacro REPORT "Could not tell whether the product installed in $PreviousFolder is in $INSTDIR; nothing was changed"
        Abort
    ${EndIf}
    ${If} $InstalledHere == 1
        StrCpy $KeptAside "$INSTDIR\kept aside during an update"
        ${If} ${FileExists} "$KeptAside\*.*"
            !insertmacro REPORT "An earlier update left the product's files in $KeptAside; put them back or remove them, then install again. Nothing was changed"
            Abort
        ${EndIf}
        StrCpy $NotMoved ""
        !insertmacro FOR_EACH_PRODUCT_FILE MOVE_ASIDE
        ${If} $NotMoved == 1
            !insertmacro PUT_ALL_BACK
            !insertmacro REPORT "The installed product's files could not be moved aside (one is in use); nothing was changed"
            Abort
        ${EndIf}
    ${EndIf}
    StrCpy $Changing 1
FunctionEnd

; Call once the installation has succeeded: the kept files go, and so does
; the product's old folder after a move, without an uninstall pass, since
; the new folder's copy now serves the classes.
Function FinishInstallation
    StrCpy $Changing ""
    ${If} $InstalledHere == 1
        !insertmacro DELETE_PRODUCT_FILES "$KeptAside"
    ${ElseIf} $PreviousFolder != ""
    ${AndIf} ${FileExists} "$PreviousFolder\${ACTION}"
        !insertmacro DELETE_PRODUCT_FILES "$PreviousFolder"
        !insertmacro REPORT "The product moved here from $PreviousFolder, whose files were removed"
    ${EndIf}
FunctionEnd

; Reports how the installed product's post-install pass, run again, ended.
!macro REPORT_RESTORED
    ${If} $0 == 0
        !insertmacro REPORT "The installed product in $INSTDIR was restored and registered again"
    ${Else}
        !insertmacro REPORT "The installed product in $INSTDIR was restored, but registering it again failed ($0); reinstall it"
    ${EndIf}
!macroend

; Call from .onInstFailed: whatever step failed, the installation is taken
; back and an installed product is left as it was, its files, uninstaller and
; entry (written only after a pass that succeeded), its components
; registered from its own folder again. What the failed version registered
; is unregistered first.
Function TakeBackFailedInstallation
    ${If} $Changing != 1
        !insertmacro REPORT "The installation failed before it changed anything"
        Return
    ${EndIf}
    ${If} $InstalledHere == 1
        !insertmacro REPORT "The installation failed; the installed product's files are put back"
        !insertmacro REMOVE_FILES
        !insertmacro PUT_ALL_BACK
        ${If} $NotMoved == 1
            !insertmacro REPORT "Some of the installed product's files could not be put back; they are in $KeptAside"
        ${EndIf}
        !insertmacro RUN_ACTION "-Post_install 1"
        !insertmacro REPORT_RESTORED
    ${Else}
        !insertmacro REPORT "The installation failed; it is taken back"
        !insertmacro REMOVE_FILES
        ${If} $PreviousFolder != ""
        ${AndIf} ${FileExists} "$PreviousFolder\${ACTION}"
            StrCpy $INSTDIR $PreviousFolder
            !insertmacro RUN_ACTION "-Post_install 1"
            !insertmacro REPORT_RESTORED
        ${EndIf}
    ${EndIf}
FunctionEnd
