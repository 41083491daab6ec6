; A sample product whose installer runs the action after its files are copied,
; and whose uninstaller runs it again before they are deleted.
;   makensis -DARCH=i686|x86_64 -DPROGRAM=<program> -DCOMPONENT=<Vantabox.dll>
;            -DOUTFILE=<setup.exe> [-DVERSION=<version>] [-DDETAILS_FILE=<file>] product.nsi
; DETAILS_FILE is for tests: the lines the installer shows in its details
; about the action are also appended to that file, since a silent
; installation shows none.
; Lines marked "(yours)" are the sample product's own: an author changes each
; to their product's name, folder, key or id. Every other line stays.
Unicode true
!include LogicLib.nsh
!include FileFunc.nsh
!include WordFunc.nsh
!include x64.nsh
; (yours)
Name "QL Postlude Sample Product"
OutFile "${OUTFILE}"
; The action registers COM components for the whole machine, so the installer
; asks UAC for elevation, and the action, started by nsExec, inherits the
; elevated token: that is the machine's part of the pass. The recent-projects
; file is each user's, and the elevated token is often nobody's who will use
; the product (the local system account's when a deployment tool installs
; it, an administrator's when a standard user typed in their credentials),
; and NSIS has no way back to the user's own token. So the installer seeds
; no profile itself: its Active Setup entry seeds every user, the installing
; one included, at their next logon.
RequestExecutionLevel admin
; The product's folder when none is installed and /D= names none. (yours)
!if "${ARCH}" == "x86_64"
    Target amd64-unicode
    !define DEFAULT_FOLDER "$PROGRAMFILES64\Sample Product"
!else
    Target x86-unicode
    !define DEFAULT_FOLDER "$PROGRAMFILES\Sample Product"
!endif
InstallDir "${DEFAULT_FOLDER}"

!define ACTION "Postlude_WB_QL_install.exe"
; A file that can't be written ends the installation, which is then taken
; back, rather than being skipped: a silent installer would otherwise skip it
; without a word and go on with a half-installed product.
AllowSkipFiles off
!ifndef VERSION
    !define VERSION "1.0.0"
!endif
; The product's entry among the installed programs (Add/Remove Programs);
; a reinstall or an update goes where it names the product's folder. (yours)
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\QLPostludeSampleProduct"
; Held by the product's installers and uninstallers, in every session. (yours)
!define SETUP_MUTEX "Global\QLPostludeSampleProductSetup"
; The product's Active Setup entry (HKLM\Software\Microsoft\Active Setup\
; Installed Components\<this>), which seeds each user at logon. (yours)
!define ACTIVE_SETUP_ID "QLPostludeSampleProduct"

; Without UAC (or with UAC turned off) the request above asks for nothing,
; so installer and uninstaller check for themselves that they may register
; and unregister machine-wide.
!macro REQUIRE_ADMINISTRATOR
    UserInfo::GetAccountType
    Pop $0
    ${If} $0 != "Admin"
        MessageBox MB_ICONSTOP "Only an administrator can install or remove this product." /SD IDOK
        SetErrorLevel 740 ; ERROR_ELEVATION_REQUIRED
        Quit
    ${EndIf}
!macroend
; A 64-bit product's entry belongs in the 64-bit view of the registry.
!if "${ARCH}" == "x86_64"
    !define REGISTRY_VIEW 64
!else
    !define REGISTRY_VIEW 32
!endif

; The files the product lays down: the subfolder of the version's folder,
; and the name.
!macro FOR_EACH_PRODUCT_FILE MACRO
    !insertmacro ${MACRO} "" "${ACTION}"
    !insertmacro ${MACRO} "" "recent_projects.json"
    !insertmacro ${MACRO} "\Wrenfold" "Vantabox.dll"
    !insertmacro ${MACRO} "" "uninstall.exe"
!macroend
; What runs the action and takes a failed installation back, beside this script.
; The entry's own values, written when the entry switches to a new version
; (postlude.nsh writes the version, the folders and how to uninstall).
; (yours: the product's name and publisher)
!macro WRITE_PRODUCT_ENTRY
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "QL Postlude Sample Product"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "QL Postlude"
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
!macroend
; What runs the action and keeps the installed product whole, beside this script.
!addincludedir "${__FILEDIR__}"
!include "postlude.nsh"

Function .onInit
    !insertmacro REQUIRE_ADMINISTRATOR
    SetRegView ${REGISTRY_VIEW}
    Call FindInstalledProduct
FunctionEnd
; Whatever ended the installation (a failed post-install pass, a file that
; can't be written, a full disk, an uninstaller that can't be written), it is
; taken back here, and ends with 1603 (ERROR_INSTALL_FAILURE), what a silent
; deployment reads as a failed installation, rather than NSIS's own 2.
Function .onInstFailed
    Call TakeBackFailedInstallation
FunctionEnd
Function un.onInit
    !insertmacro REQUIRE_ADMINISTRATOR
    SetRegView ${REGISTRY_VIEW}
    Call un.HoldSetupMutex
FunctionEnd

; The product's files go into this installation's own folder, under the
; product's folder; FinishInstallation then makes it the product.
Section "Product"
    Call PrepareVersionFolder
    SetOutPath "$VersionFolder"
    File "/oname=${ACTION}" "${PROGRAM}"
    File "/oname=recent_projects.json" "recent_projects.json"
    SetOutPath "$VersionFolder\Wrenfold"
    File "/oname=Vantabox.dll" "${COMPONENT}"
    Call FinishInstallation
SectionEnd

Section "Uninstall"
    DetailPrint "Removing version ${VERSION}"
    !insertmacro REMOVE_PRODUCT
SectionEnd
