; A sample product whose installer runs the action after its files are copied,
; and whose uninstaller runs it again before they are deleted.
; makensis -DARCH=i686|x86_64 -DPROGRAM=<program> -DCOMPONENT=<Vantabox.dll>
;          -DOUTFILE=<setup.exe> product.nsi
Unicode true
!include LogicLib.nsh
Name "QL Postlude Sample Product"
OutFile "${OUTFILE}"
; The action registers COM components for the whole machine, so the installer
; asks UAC for elevation, and the action, started by ExecWait, inherits the
; elevated token. For an administrator who consents, that token is the
; installing user's own, so the log and the recent-projects file land in that
; user's profile too. A standard user who types in an administrator's
; credentials gets that administrator's token and profile instead: the
; registration works, but the log and the seeded file are the
; administrator's. NSIS has no built-in way to start a program with the
; unelevated user's token; an installer that must seed a standard user's
; file has to run a second, unelevated copy of the action by other means.
RequestExecutionLevel admin
!if "${ARCH}" == "x86_64"
    Target amd64-unicode
    InstallDir "$PROGRAMFILES64\Sample Product"
!else
    Target x86-unicode
    InstallDir "$PROGRAMFILES\Sample Product"
!endif

!define ACTION "Postlude_WB_QL_install.exe"

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
Function .onInit
    !insertmacro REQUIRE_ADMINISTRATOR
FunctionEnd
Function un.onInit
    !insertmacro REQUIRE_ADMINISTRATOR
FunctionEnd

Section "Product"
    SetOutPath "$INSTDIR"
    File "/oname=${ACTION}" "${PROGRAM}"
    SetOutPath "$INSTDIR\Wrenfold"
    File "/oname=Vantabox.dll" "${COMPONENT}"
    WriteUninstaller "$INSTDIR\uninstall.exe"
    ; $INSTDIR has no trailing backslash, and the action expects one. The
    ; backslash is doubled so that the closing quote stays a quote when the
    ; action splits its command line. Its exit code only says whether it
    ; could log, so it never fails the installation.
    ExecWait '"$INSTDIR\${ACTION}" -Post_install 1 -installDir "$INSTDIR\\"' $0
    DetailPrint "${ACTION} exited with $0"
SectionEnd

Section "Uninstall"
    ExecWait '"$INSTDIR\${ACTION}" -uninstall 1 -installDir "$INSTDIR\\"' $0
    DetailPrint "${ACTION} exited with $0"
    Delete "$INSTDIR\Wrenfold\Vantabox.dll"
    RMDir "$INSTDIR\Wrenfold"
    Delete "$INSTDIR\${ACTION}"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
SectionEnd
