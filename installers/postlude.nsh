; Runs the post-install and uninstall action from an NSIS installer, and takes
; a failed installation back without taking away the product that was there.
; The script that includes this defines, before it:
;   ACTION         the action's file name under $INSTDIR
;   UNINSTALL_KEY  the product's entry under HKLM (Add/Remove Programs),
;                  with its InstallLocation
;   FOR_EACH_PRODUCT_FILE MACRO  a macro that inserts MACRO with the folder
;                  (under $INSTDIR, "" or "\Sub") and the name of every file
;                  the product lays down, the uninstaller included
; and, for tests only, DETAILS_FILE: a file that the lines the installer
; shows about the action are also appended to, since a silent installation
; shows none. Needs LogicLib.
;
; It gives the installer:
;   RUN_ACTION PASS             runs the action, its exit code in $0
;   REMOVE_PRODUCT              the uninstall pass, the files and the entry
;   KeepInstalledFilesAside     call before laying down any file
;   TakeBackFailedInstallation  call when the post-install pass failed

; The installed product's folder, empty when there is none; and where the
; files this installation replaces in that folder are kept until it succeeds.
Var PreviousFolder
Var KeptAside

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
    ; From a folder outside the product: what the action starts inherits it,
    ; and a folder in use as one can't be removed.
    SetOutPath "$TEMP"
    nsExec::ExecToLog '"$INSTDIR\${ACTION}" ${PASS} -echo 1 -installDir "$INSTDIR\\"'
    Pop $0
    ${If} $0 == "error"
        !insertmacro REPORT "${ACTION} could not be started"
    ${Else}
        !insertmacro REPORT "${ACTION} exited with $0"
    ${EndIf}
!macroend


; The installed product's files and its uninstall pass. The uninstall pass
; runs first, while the component is still there.
!macro DELETE_PRODUCT_FILE FOLDER NAME
    Delete "$INSTDIR${FOLDER}\${NAME}"
    RMDir "$INSTDIR${FOLDER}"
!macroend
!macro REMOVE_FILES
    !insertmacro RUN_ACTION "-uninstall 1"
    !insertmacro FOR_EACH_PRODUCT_FILE DELETE_PRODUCT_FILE
    RMDir "$INSTDIR"
!macroend
; What the uninstaller removes.
!macro REMOVE_PRODUCT
    !insertmacro REMOVE_FILES
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
!macroend

!macro KEEP_ASIDE FOLDER NAME
    ${If} ${FileExists} "$INSTDIR${FOLDER}\${NAME}"
        CreateDirectory "$KeptAside${FOLDER}"
        CopyFiles /SILENT "$INSTDIR${FOLDER}\${NAME}" "$KeptAside${FOLDER}"
    ${EndIf}
!macroend
!macro PUT_BACK FOLDER NAME
    ${If} ${FileExists} "$KeptAside${FOLDER}\${NAME}"
        CopyFiles /SILENT "$KeptAside${FOLDER}\${NAME}" "$INSTDIR${FOLDER}"
    ${Else}
        Delete "$INSTDIR${FOLDER}\${NAME}"
    ${EndIf}
!macroend

; An installation over the installed product, in its folder, replaces its
; files: a copy of each is kept aside first, so that a failed installation
; can put the product back as it was. Nothing is laid down if they can't be.
Function KeepInstalledFilesAside
    ReadRegStr $PreviousFolder HKLM "${UNINSTALL_KEY}" "InstallLocation"
    ${If} $PreviousFolder != $INSTDIR
        Return
    ${EndIf}
    InitPluginsDir
    StrCpy $KeptAside "$PLUGINSDIR\kept-aside"
    ClearErrors
    !insertmacro FOR_EACH_PRODUCT_FILE KEEP_ASIDE
    ${If} ${Errors}
        !insertmacro REPORT "The installed product's files could not be kept aside; nothing was changed"
        Abort
    ${EndIf}
FunctionEnd

; After a failed post-install pass: the installation is taken back, and an
; installed product is left as it was, its files, uninstaller and entry, its
; components registered from its own folder again (the failed pass may have
; changed the classes both share).
Function TakeBackFailedInstallation
    ${If} $PreviousFolder == ""
        !insertmacro REPORT "A component could not be registered; the installation is taken back"
        !insertmacro REMOVE_PRODUCT
    ${ElseIf} $PreviousFolder == $INSTDIR
        !insertmacro REPORT "A component could not be registered; the installed product's files are put back"
        ClearErrors
        !insertmacro FOR_EACH_PRODUCT_FILE PUT_BACK
        ${If} ${Errors}
            !insertmacro REPORT "Some of the installed product's files could not be put back; they are in $KeptAside"
        ${EndIf}
        !insertmacro RUN_ACTION "-Post_install 1"
        !insertmacro REPORT "The installed product in $INSTDIR was restored and registered again"
    ${Else}
        !insertmacro REPORT "A component could not be registered; the installation is taken back"
        !insertmacro REMOVE_FILES
        StrCpy $INSTDIR $PreviousFolder
        !insertmacro RUN_ACTION "-Post_install 1"
        !insertmacro REPORT "The installed product in $INSTDIR was left as it was and registered again"
    ${EndIf}
FunctionEnd

