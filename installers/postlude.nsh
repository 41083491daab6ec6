; Runs the post-install and uninstall action from an NSIS installer, so that
; no step that fails or is cut off takes away the product that was there.
;
; Every installation lays its files into a folder of its own under the
; product's folder ($INSTDIR\<version>, or <version>-2, -3... when that one is
; taken): the installed product's files are never opened, replaced or moved.
; Only once the new folder is whole and its post-install pass has succeeded
; does the entry switch to it; then the folders it replaced are deleted, and
; what can't be deleted yet (a DLL a program has loaded, a file held open) at
; the next restart. A failure before the switch deletes the new folder and
; registers the installed product from its own folder again; a kill before
; it leaves the installed product whole, and the next run tidies what it left.
;
; The script that includes this defines, before it:
;   ACTION          the action's file name in each version's folder
;   PROGRAM         the action's file on the build host (the File source)
;   VERSION         this package's version (dotted numbers)
;   DEFAULT_FOLDER  the InstallDir: the product's folder when none is
;                   installed and /D= names none
;   UNINSTALL_KEY   the product's entry under HKLM (Add/Remove Programs)
;   REGISTRY_VIEW   32 or 64: the view the entry is in for this package
;   SETUP_MUTEX     a name that the product's installers and uninstallers
;                   hold while they run ("Global\..." for every session)
;   FOR_EACH_PRODUCT_FILE MACRO  inserts MACRO with the subfolder ("" or
;                   "\Sub") and the name of every file an installation lays
;                   down in its version's folder, the uninstaller included
;   WRITE_PRODUCT_ENTRY  a macro writing the entry's own values (DisplayName,
;                   Publisher...); it runs at the switch, never before
;   ACTIVE_SETUP_ID the product's own name for its Active Setup entry, which
;                   seeds each user's recent-projects file at their logon
; and ships recent_projects.json, the product's template of that file, in
; each version's folder (one of the files FOR_EACH_PRODUCT_FILE names).
; and, for tests only, DETAILS_FILE: a file that the lines the installer
; shows about the action are also appended to, since a silent installation
; shows none. Needs LogicLib, FileFunc, WordFunc and x64.
;
; It gives the installer:
;   FindInstalledProduct   call from .onInit: the mutex, the installed
;                          product, the folder, a downgrade refused
;   PrepareVersionFolder   call before laying down any file: $VersionFolder
;   FinishInstallation     call after the last file: the uninstaller, the
;                          pass, the switch and the tidying
;   TakeBackFailedInstallation  call from .onInstFailed
; and the uninstaller:
;   un.HoldSetupMutex      call from un.onInit
;   REMOVE_PRODUCT         the uninstall pass, the files and the entry

!if ${NSIS_PACKEDVERSION} < 0x03000000
    !error "postlude.nsh needs NSIS 3"
!endif
; NSIS 3.06.1 to 3.11 may use the low-integrity temporary folder when an
; installer runs as the local system account, which lets a local user gain
; its privileges (CVE-2026-42171, fixed in 3.12). Deployment tools run
; installers exactly that way, so an installer that ships is built with 3.12
; or later.
!if ${NSIS_PACKEDVERSION} < 0x0300C000
    !warning "NSIS ${NSIS_VERSION} is older than 3.12: an installer built with it is exposed to CVE-2026-42171 when deployed as the local system account; build what ships with NSIS 3.12 or later"
!endif

; The installed product: its current folder and version as its entry names
; them (empty when none), its product folder, and 1 when the entry is in the
; other architecture's view. This installation's own folder; 1 once a pass
; of it may have registered; 1 in SameFolder when two folders are one.
Var CurrentFolder
Var CurrentVersion
Var PreviousProductFolder
Var InOtherView
Var VersionFolder
Var PassStarted
Var SameFolder
Var FilesIn
; The folder of a product installed by the previous release's sample, whose
; files are directly in it; empty when the product is none such.
Var EarlierLayout

!if ${REGISTRY_VIEW} == 64
    !define POSTLUDE_OTHER_VIEW 32
!else
    !define POSTLUDE_OTHER_VIEW 64
!endif
!define POSTLUDE_ERROR_ALREADY_EXISTS 183
!define POSTLUDE_ERROR_INSTALL_ALREADY_RUNNING 1618
!define POSTLUDE_ERROR_INSTALL_FAILURE 1603
!define POSTLUDE_HKEY_LOCAL_MACHINE 0x80000002
; Each user's logon runs the entry's StubPath once per Version (Windows'
; Active Setup), as that user: the user's part of the post-install pass,
; which gives the user the template and seeds it. That reaches every user:
; those who log on later, each user of a Remote Desktop host, and the
; installing user too, whom an elevated installer can't run anything as.
; The Version is the package's with commas, the only separator Windows reads.
!define POSTLUDE_ACTIVE_SETUP_KEY "Software\Microsoft\Active Setup\Installed Components\${ACTIVE_SETUP_ID}"
!searchreplace POSTLUDE_ACTIVE_SETUP_VERSION "${VERSION}" "." ","
; Where the previous release's sample kept an installed product's files
; while it updated it.
!define POSTLUDE_KEPT_ASIDE "kept aside during an update"

!macro REPORT LINE
    DetailPrint "${LINE}"
    !ifdef DETAILS_FILE
        FileOpen $9 "${DETAILS_FILE}" a
        FileSeek $9 0 END
        FileWrite $9 "${LINE}$\r$\n"
        FileClose $9
    !endif
!macroend

; Runs the action in FOLDER with PASS ("-Post_install 1 ..." or
; "-uninstall 1") and waits. With -echo it writes each record of its log to
; its output, as UTF-16 after a byte-order mark, which nsExec::ExecToLog reads
; as such and shows in the details as it comes. FOLDER has no trailing
; backslash; one is added so that it reads as a folder, doubled so that the
; closing quote stays a quote when the action splits its command line.
; Leaves in $0 the exit code, or "error" when it could not be started.
!macro RUN_ACTION FOLDER PASS
    ; The action and what it starts inherit the working folder: one outside
    ; the product (a folder in use as one can't be removed), and one that only
    ; administrators can write, since DLLs may be looked for there. The
    ; temporary folder is neither when the installer runs as the system
    ; account (C:\Windows\Temp, where any user can create files).
    SetOutPath "$SYSDIR"
    nsExec::ExecToLog '"${FOLDER}\${ACTION}" ${PASS} -echo 1 -installDir "${FOLDER}\\"'
    Pop $0
    ${If} $0 == "error"
        !insertmacro REPORT "${ACTION} could not be started"
    ${Else}
        !insertmacro REPORT "${ACTION} exited with $0"
    ${EndIf}
!macroend

; Installers and uninstallers of the product hold one mutex while they run:
; two at once would each tidy away the folder the other is laying down. The
; second ends at once with ERROR_INSTALL_ALREADY_RUNNING, which deployment
; tools wait on and retry, having changed nothing. The handle is never
; closed: Windows releases it when the process ends, however it ends.
!macro HOLD_SETUP_MUTEX
    System::Call 'kernel32::CreateMutexW(p 0, i 0, w "${SETUP_MUTEX}") p .r1 ?e'
    Pop $0
    ${If} $1 == 0
    ${OrIf} $0 == ${POSTLUDE_ERROR_ALREADY_EXISTS}
        !insertmacro REPORT "Another installation or removal of the product is running; nothing was changed"
        SetErrorLevel ${POSTLUDE_ERROR_INSTALL_ALREADY_RUNNING}
        Quit
    ${EndIf}
!macroend

; The switch and a removal are on disk before anything they make unneeded is
; deleted: the registry writes its hives lazily, the file system does not
; wait for it, and a power loss in between would leave an entry naming a
; folder that is gone.
!macro FLUSH_ENTRY
    System::Call 'advapi32::RegFlushKey(p ${POSTLUDE_HKEY_LOCAL_MACHINE}) i'
!macroend

; Whether the folders $R8 and $R7 are one, whatever the spelling of either (a
; short name, another case, a trailing backslash, another drive letter for
; the same place): a file made in the one is looked for in the other. Leaves
; 1, 0, or "unknown" (no file could be made) in $SameFolder.
!macro DEFINE_SAME_FOLDER PREFIX
Function ${PREFIX}CompareFolders
    Push $R0
    Push $R1
    StrCpy $SameFolder "unknown"
    ${IfNot} ${FileExists} "$R8\*.*"
    ${OrIfNot} ${FileExists} "$R7\*.*"
        StrCpy $SameFolder 0
    ${Else}
        GetTempFileName $R0 "$R8"
        ${If} $R0 != ""
            StrCpy $SameFolder 0
            ${GetFileName} $R0 $R1
            ${If} ${FileExists} "$R7\$R1"
                StrCpy $SameFolder 1
            ${EndIf}
            Delete $R0
        ${EndIf}
    ${EndIf}
    Pop $R1
    Pop $R0
FunctionEnd
!macroend

; A version's files in $FilesIn, each deleted now or, when it can't be (a
; program has it loaded or open), at the next restart; then the subfolders.
!macro DELETE_PRODUCT_FILE FOLDER NAME
    StrCpy $R4 "$FilesIn${FOLDER}\${NAME}"
    Call ${POSTLUDE_PREFIX}DeleteNowOrAtRestart
    !if "${FOLDER}" != ""
        RMDir /REBOOTOK "$FilesIn${FOLDER}"
    !endif
!macroend
; The same, for the previous release's files directly in the product folder:
; that release shipped no template, so a recent_projects.json there is
; another program's, or one the author's installer laid down, and stays.
!macro DELETE_EARLIER_LAYOUT_FILE FOLDER NAME
    !if "${FOLDER}\${NAME}" != "\recent_projects.json"
        !insertmacro DELETE_PRODUCT_FILE "${FOLDER}" "${NAME}"
    !endif
!macroend
; 1 in $R9 when $FilesIn holds any of a version's files.
!macro FIND_PRODUCT_FILE FOLDER NAME
    ${If} ${FileExists} "$FilesIn${FOLDER}\${NAME}"
        StrCpy $R9 1
    ${EndIf}
!macroend

!macro DEFINE_TIDYING PREFIX
!define POSTLUDE_PREFIX "${PREFIX}"
; Deletes the file $R4 now, or at the next restart when it can't be. It is
; renamed first to a name of its own, which a loaded DLL allows: the restart
; deletes by name, and a later installation may lay a new file down under
; the old one's.
Function ${PREFIX}DeleteNowOrAtRestart
    Push $R3
    Delete $R4
    ${If} ${FileExists} $R4
        ${GetParent} $R4 $R3
        GetTempFileName $R3 $R3
        Delete $R3
        ClearErrors
        Rename $R4 $R3
        ${If} ${Errors}
            StrCpy $R3 $R4
        ${EndIf}
        Delete /REBOOTOK $R3
    ${EndIf}
    Pop $R3
FunctionEnd

; 1 in $R9 when the name $R8 is one this product's installations give
; their folders: a version, and maybe "-" and a number. A product folder
; may be shared (/D= can name any folder); only such folders are tidied.
Function ${PREFIX}IsVersionName
    Push $R0
    Push $R1
    Push $R2
    Push $R3
    StrCpy $R9 0
    StrCpy $R0 $R8 1
    ${If} $R0 != ""
    ${AndIf} $R0 != "."
    ${AndIf} $R0 != "-"
        StrCpy $R9 1
        StrCpy $R1 0
        ${Do}
            StrCpy $R0 $R8 1 $R1
            ${IfThen} $R0 == "" ${|} ${ExitDo} ${|}
            ; Whether the character is one of the allowed ones.
            StrCpy $R2 0
            ${Do}
                StrCpy $R3 "0123456789.-" 1 $R2
                ${If} $R3 == ""
                    StrCpy $R9 0
                    ${ExitDo}
                ${EndIf}
                ${IfThen} $R3 == $R0 ${|} ${ExitDo} ${|}
                IntOp $R2 $R2 + 1
            ${Loop}
            ${IfThen} $R9 == 0 ${|} ${ExitDo} ${|}
            IntOp $R1 $R1 + 1
        ${Loop}
    ${EndIf}
    Pop $R3
    Pop $R2
    Pop $R1
    Pop $R0
FunctionEnd
; Deletes the product's files in the folder $R8 and then the folder, at the
; next restart if need be.
Function ${PREFIX}DeleteVersionFolder
    StrCpy $FilesIn $R8
    !insertmacro FOR_EACH_PRODUCT_FILE DELETE_PRODUCT_FILE
    RMDir /REBOOTOK $R8
FunctionEnd

; Deletes, in the product folder $R8, every subfolder but the one named $R6
; that is named as a version and holds any of the product's files or nothing
; at all (versions replaced, versions that an interrupted run left half laid
; down), and what an earlier sample kept aside during an update. A folder the
; product does not know is left as it is, and so are files in it that the
; product does not know.
Function ${PREFIX}DeleteOtherVersions
    Push $R0
    Push $R1
    Push $R8
    Push $R9
    StrCpy $R1 $R8
    FindFirst $R0 $R8 "$R1\*.*"
    ${DoWhile} $R8 != ""
        ${If} $R8 != "."
        ${AndIf} $R8 != ".."
        ${AndIf} $R8 != $R6
        ${AndIf} ${FileExists} "$R1\$R8\*.*"
            Call ${PREFIX}IsVersionName
            ${If} $R9 == 1
                StrCpy $FilesIn "$R1\$R8"
                StrCpy $R9 0
                !insertmacro FOR_EACH_PRODUCT_FILE FIND_PRODUCT_FILE
                ${If} $R9 == 1
                    Push $R8
                    StrCpy $R8 "$R1\$R8"
                    Call ${PREFIX}DeleteVersionFolder
                    Pop $R8
                ${Else}
                    RMDir "$R1\$R8"
                ${EndIf}
            ${ElseIf} $R8 == "${POSTLUDE_KEPT_ASIDE}"
                Push $R8
                StrCpy $R8 "$R1\$R8"
                Call ${PREFIX}DeleteVersionFolder
                Pop $R8
            ${EndIf}
        ${EndIf}
        FindNext $R0 $R8
    ${Loop}
    FindClose $R0
    Pop $R9
    Pop $R8
    Pop $R1
    Pop $R0
FunctionEnd

; Deletes the product in the product folder $R8, but for its subfolder $R6:
; every version folder, and the folder itself when nothing else is left. $R5
; is 1 when $R8 is the folder that a new version now lives in, which then
; stays.
Function ${PREFIX}DeleteProductFolder
    Call ${PREFIX}DeleteOtherVersions
    ${If} $R5 != 1
        RMDir /REBOOTOK $R8
    ${EndIf}
FunctionEnd
!undef POSTLUDE_PREFIX
!macroend

!insertmacro DEFINE_SAME_FOLDER ""
!insertmacro DEFINE_SAME_FOLDER "un."
!insertmacro DEFINE_TIDYING ""
!insertmacro DEFINE_TIDYING "un."

; A 32-bit package must hold the i686 program: the x86_64 one can't start on
; 32-bit Windows, where a silent installation would then fail with nothing
; in any log. The program is looked at before anything is laid down: its
; PE header's machine type, 0x8664 for x64. (The same file is stored once
; in the installer, however often it is named.)
!macro REFUSE_X64_PROGRAM_IN_32BIT_PACKAGE
    !if ${NSIS_PTR_SIZE} == 4
        InitPluginsDir
        File "/oname=$PLUGINSDIR\${ACTION}" "${PROGRAM}"
        StrCpy $R1 0
        ClearErrors
        FileOpen $R0 "$PLUGINSDIR\${ACTION}" r
        ${IfNot} ${Errors}
            FileSeek $R0 0x3C SET
            FileReadByte $R0 $R2
            FileReadByte $R0 $R3
            IntOp $R3 $R3 << 8
            IntOp $R2 $R2 + $R3
            IntOp $R2 $R2 + 4
            FileSeek $R0 $R2 SET
            FileReadByte $R0 $R2
            FileReadByte $R0 $R3
            IntOp $R3 $R3 << 8
            IntOp $R1 $R2 + $R3
            FileClose $R0
        ${EndIf}
        Delete "$PLUGINSDIR\${ACTION}"
        ${If} $R1 = 0x8664
            !insertmacro REPORT "This 32-bit installer holds the x86_64 build of ${ACTION}, which can't start on 32-bit Windows; build it with the i686 program (dist/i686); nothing was changed"
            MessageBox MB_ICONSTOP "This 32-bit installer holds the x86_64 build of ${ACTION}. Build it with the i686 program." /SD IDOK
            SetErrorLevel ${POSTLUDE_ERROR_INSTALL_FAILURE}
            Quit
        ${EndIf}
    !endif
!macroend

; Reads the installed product's entry in the current view.
!macro READ_ENTRY
    ReadRegStr $CurrentFolder HKLM "${UNINSTALL_KEY}" "InstallLocation"
    ReadRegStr $CurrentVersion HKLM "${UNINSTALL_KEY}" "DisplayVersion"
    ReadRegStr $PreviousProductFolder HKLM "${UNINSTALL_KEY}" "ProductFolder"
!macroend

; Call from .onInit, after SetRegView ${REGISTRY_VIEW}. Holds the mutex;
; finds the installed product, in this package's view or, on 64-bit
; Windows, the other architecture's; sends the installation to its product
; folder unless /D= names one; refuses a version older than the installed
; one before anything changed.
Function FindInstalledProduct
    !insertmacro HOLD_SETUP_MUTEX
    !insertmacro REFUSE_X64_PROGRAM_IN_32BIT_PACKAGE
    StrCpy $InOtherView ""
    !insertmacro READ_ENTRY
    ${If} $CurrentFolder == ""
    ${AndIf} ${RunningX64}
        SetRegView ${POSTLUDE_OTHER_VIEW}
        !insertmacro READ_ENTRY
        SetRegView ${REGISTRY_VIEW}
        ${If} $CurrentFolder != ""
            StrCpy $InOtherView 1
        ${EndIf}
    ${EndIf}
    ; An earlier sample kept its files directly in the product folder, and
    ; named no product folder of its own.
    StrCpy $EarlierLayout ""
    ${If} $CurrentFolder != ""
    ${AndIf} $PreviousProductFolder == ""
        StrCpy $PreviousProductFolder $CurrentFolder
        StrCpy $EarlierLayout $CurrentFolder
    ${EndIf}
    ; An update goes to the installed product's folder unless /D= names
    ; another (NSIS takes /D= off the command line: the folder is still the
    ; default then only if none was named). The other architecture's product
    ; folder is that architecture's: this package goes to its own default.
    ${If} $INSTDIR == "${DEFAULT_FOLDER}"
    ${AndIf} $PreviousProductFolder != ""
    ${AndIf} $InOtherView != 1
        StrCpy $INSTDIR $PreviousProductFolder
    ${EndIf}
    ${If} $CurrentVersion != ""
        ${VersionCompare} $CurrentVersion "${VERSION}" $R0
        ${If} $R0 == 1
            !insertmacro REPORT "Version $CurrentVersion of the product is installed, newer than ${VERSION}; nothing was changed"
            MessageBox MB_ICONSTOP "Version $CurrentVersion of the product is installed, newer than ${VERSION}. Remove it first to install this one." /SD IDOK
            SetErrorLevel ${POSTLUDE_ERROR_INSTALL_FAILURE}
            Quit
        ${EndIf}
    ${EndIf}
FunctionEnd

; Call before laying down any file: this installation's own folder, one that
; does not exist yet, whatever exists (the installed version, a reinstall of
; the same version, what an interrupted run left).
Function PrepareVersionFolder
    Push $R0
    StrCpy $VersionFolder "$INSTDIR\${VERSION}"
    StrCpy $R0 1
    ${DoWhile} ${FileExists} $VersionFolder
        IntOp $R0 $R0 + 1
        StrCpy $VersionFolder "$INSTDIR\${VERSION}-$R0"
    ${Loop}
    Pop $R0
    CreateDirectory $VersionFolder
FunctionEnd

; The entry names the new folder: the author's values, the ones a removal
; needs, and last the folder that says which version is the product. Then
; the Active Setup entry runs the new folder's program: written after the
; switch, so that it never names a folder that a later run may tidy away as
; a leftover. StubPath is expandable, as Windows expects it, and holds the
; folder itself: %ProgramFiles% in it would be the 64-bit folder to the
; 64-bit Explorer that runs it, for a 32-bit package too.
!macro SWITCH_ENTRY
    !insertmacro WRITE_PRODUCT_ENTRY
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "ProductFolder" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$VersionFolder\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$VersionFolder\uninstall.exe" /S'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$VersionFolder"
    WriteRegStr HKLM "${POSTLUDE_ACTIVE_SETUP_KEY}" "" "$(^Name)"
    WriteRegExpandStr HKLM "${POSTLUDE_ACTIVE_SETUP_KEY}" "StubPath" \
        '"$VersionFolder\${ACTION}" -Post_install 1 -postInstallPart user -recentProjectsTemplate "$VersionFolder\recent_projects.json"'
    WriteRegStr HKLM "${POSTLUDE_ACTIVE_SETUP_KEY}" "Version" "${POSTLUDE_ACTIVE_SETUP_VERSION}"
    WriteRegDWORD HKLM "${POSTLUDE_ACTIVE_SETUP_KEY}" "IsInstalled" 1
    !insertmacro FLUSH_ENTRY
!macroend

; What the switch made unneeded: the replaced version (or an earlier
; sample's files directly in the product folder) and every leftover in the
; product folder; after a move or a change of architecture, the old product
; folder too, unless it is this one spelt another way; and the other
; architecture's entry.
Function TidyAfterSwitch
    ${GetFileName} $VersionFolder $R6
    ${If} $CurrentFolder != ""
    ${AndIf} $CurrentFolder != $PreviousProductFolder
        StrCpy $R8 $CurrentFolder
        StrCpy $R7 $VersionFolder
        Call CompareFolders
        ${If} $SameFolder == 0
            Call DeleteVersionFolder
        ${EndIf}
    ${EndIf}
    ; The previous release's files, directly in its folder: only there, since
    ; a product folder may be shared.
    ${If} $EarlierLayout != ""
        StrCpy $FilesIn $EarlierLayout
        !define POSTLUDE_PREFIX ""
        !insertmacro FOR_EACH_PRODUCT_FILE DELETE_EARLIER_LAYOUT_FILE
        !undef POSTLUDE_PREFIX
    ${EndIf}
    StrCpy $R8 $INSTDIR
    StrCpy $R5 1
    Call DeleteProductFolder
    ${If} $PreviousProductFolder != ""
        StrCpy $R8 $PreviousProductFolder
        StrCpy $R7 $INSTDIR
        Call CompareFolders
        ${If} $SameFolder == 0
            StrCpy $R5 0
            StrCpy $R8 $PreviousProductFolder
            Call DeleteProductFolder
            !insertmacro REPORT "The product moved here from $PreviousProductFolder, whose files were removed"
        ${EndIf}
    ${EndIf}
    ${If} $InOtherView == 1
        SetRegView ${POSTLUDE_OTHER_VIEW}
        DeleteRegKey HKLM "${UNINSTALL_KEY}"
        DeleteRegKey HKLM "${POSTLUDE_ACTIVE_SETUP_KEY}"
        SetRegView ${REGISTRY_VIEW}
        !insertmacro FLUSH_ENTRY
    ${EndIf}
    ${If} ${RebootFlag}
        !insertmacro REPORT "Some files of the replaced version are in use; they are deleted at the next restart"
    ${EndIf}
FunctionEnd

; Call after the product's last file: the uninstaller, the post-install pass
; that must succeed, then the switch and the tidying. A failure aborts, and
; .onInstFailed takes the installation back.
Function FinishInstallation
    ClearErrors
    WriteUninstaller "$VersionFolder\uninstall.exe"
    ${If} ${Errors}
        !insertmacro REPORT "The uninstaller could not be written"
        Abort
    ${EndIf}
    ; The machine's part only: the registrations. With -failOnError the
    ; action ends with 1603 when a component did not register; then, or when
    ; it could not be started, the installation is aborted before the entry
    ; names this folder. The user's part is the Active Setup entry's.
    StrCpy $PassStarted 1
    !insertmacro RUN_ACTION $VersionFolder "-Post_install 1 -postInstallPart machine -failOnError 1"
    ${If} $0 != 0
        Abort
    ${EndIf}
    !insertmacro SWITCH_ENTRY
    Call TidyAfterSwitch
    ; A restart only tidies: the product works now, and the installation
    ; reports success.
    SetRebootFlag false
FunctionEnd

; Call from .onInstFailed: whatever step failed, the new folder goes, and
; the installed product, whose files and entry were never touched, is
; registered from its own folder again after what the failed version
; registered was unregistered. Ends with 1603.
Function TakeBackFailedInstallation
    ${If} $VersionFolder == ""
        !insertmacro REPORT "The installation failed before it changed anything"
    ${Else}
        !insertmacro REPORT "The installation failed; it is taken back"
        ${If} $PassStarted == 1
        ${AndIf} ${FileExists} "$VersionFolder\${ACTION}"
            !insertmacro RUN_ACTION $VersionFolder "-uninstall 1"
        ${EndIf}
        StrCpy $R8 $VersionFolder
        Call DeleteVersionFolder
        RMDir $INSTDIR
        ${If} $PassStarted == 1
        ${AndIf} $CurrentFolder != ""
        ${AndIf} ${FileExists} "$CurrentFolder\${ACTION}"
            !insertmacro RUN_ACTION $CurrentFolder "-Post_install 1 -postInstallPart machine"
            ${If} $0 == 0
                !insertmacro REPORT "The installed product in $CurrentFolder was registered again"
            ${Else}
                !insertmacro REPORT "Registering the installed product in $CurrentFolder again failed ($0); reinstall it"
            ${EndIf}
        ${EndIf}
        SetRebootFlag false
    ${EndIf}
    SetErrorLevel ${POSTLUDE_ERROR_INSTALL_FAILURE}
FunctionEnd

Function un.HoldSetupMutex
    !insertmacro HOLD_SETUP_MUTEX
FunctionEnd

; What the uninstaller in $INSTDIR (a version's folder) removes. When the
; entry names another folder that holds the product, and does not run this
; uninstaller, this one is left from a version that was replaced (a backup
; put back, a folder the product moved from): it deletes its own folder's
; files only, and neither unregisters the classes the product serves from
; the other folder nor deletes the entry. Otherwise the product goes whole:
; the uninstall pass, the entry, every version and the product folder.
!macro REMOVE_PRODUCT
    ; The folder must be a version's (_?= can name any): nothing is removed
    ; where the product's program is not.
    ${IfNot} ${FileExists} "$INSTDIR\${ACTION}"
        !insertmacro REPORT "$INSTDIR holds no installation of the product; nothing was removed"
        SetErrorLevel 2
        Abort
    ${EndIf}
    !insertmacro READ_ENTRY
    ReadRegStr $R0 HKLM "${UNINSTALL_KEY}" "UninstallString"
    StrCpy $SameFolder 1
    ${If} $CurrentFolder != ""
    ${AndIf} ${FileExists} "$CurrentFolder\${ACTION}"
    ${AndIf} $R0 != '"$INSTDIR\uninstall.exe"'
        StrCpy $R8 $CurrentFolder
        StrCpy $R7 $INSTDIR
        Call un.CompareFolders
    ${EndIf}
    ${If} $SameFolder == 0
        !insertmacro REPORT "The product is installed in $CurrentFolder; only the files in $INSTDIR were removed"
        StrCpy $R8 $INSTDIR
        Call un.DeleteVersionFolder
    ${Else}
        ${If} ${FileExists} "$INSTDIR\${ACTION}"
            !insertmacro RUN_ACTION $INSTDIR "-uninstall 1"
        ${EndIf}
        ; Users' recent-projects files stay: they are the users'.
        DeleteRegKey HKLM "${UNINSTALL_KEY}"
        DeleteRegKey HKLM "${POSTLUDE_ACTIVE_SETUP_KEY}"
        !insertmacro FLUSH_ENTRY
        ${GetParent} $INSTDIR $R8
        StrCpy $R6 ""
        StrCpy $R5 0
        Call un.DeleteProductFolder
    ${EndIf}
    SetRebootFlag false
!macroend
