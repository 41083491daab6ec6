; A sample product whose installer runs the action after its files are copied,
; and whose uninstaller runs it again before they are deleted.
; makensis -DARCH=i686|x86_64 -DPROGRAM=<program> -DCOMPONENT=<Vantabox.dll>
;          -DOUTFILE=<setup.exe> product.nsi
Unicode true
Name "QL Postlude Sample Product"
OutFile "${OUTFILE}"
; The action registers COM components for the whole machine.
RequestExecutionLevel admin
!if "${ARCH}" == "x86_64"
    Target amd64-unicode
    InstallDir "$PROGRAMFILES64\Sample Product"
!else
    Target x86-unicode
    InstallDir "$PROGRAMFILES\Sample Product"
!endif

!define ACTION "Postlude_WB_QL_install.exe"

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
