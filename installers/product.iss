; A sample product whose Inno Setup installer runs the action after its files
; are laid down, and whose uninstaller runs it again before they are removed.
;   ISCC /DARCH=i686|x86_64 /DPROGRAM=<program> /DCOMPONENT=<Vantabox.dll>
;        [/DAPP_VERSION=<version>] /O<folder> /F<name> product.iss
; APP_VERSION, not VERSION or PRODUCT_VERSION: Inno's preprocessor has names
; of its own that a /D of those would quietly become.
;
; What is the product's own is here; how the action is run, and how an
; installation gets a folder of its own so that a failed one never touches
; the installed product, is in postlude.iss, beside this file.

#ifndef APP_VERSION
  #define APP_VERSION "1.0.0"
#endif
; The product's own id, which an author changes: its AppId, and the id of
; its Active Setup entry (which postlude.iss writes), under which Windows
; keeps each user's record of having run it.
#define APP_ID "{8E3C5A21-6B4D-4F7E-9A12-3C4D5E6F7A81}"

; Its name, publisher and folder are the product's own too; the lines that
; are not stay as they are.
[Setup]
AppId={{#APP_ID}
AppName=QL Postlude Sample Product
AppVersion={#APP_VERSION}
AppPublisher=QL Postlude
DefaultDirName={autopf}\Sample Product
OutputBaseFilename=setup

; Every file goes into this installation's version folder, and is left by
; Setup's own rollback and uninstaller: the script deletes the folder itself.
; The elevated pass runs right after the last file. The recent-projects
; template, beside this script, goes beside the program: the user's part
; lays it down for a user who has no recent-projects file yet.
[Files]
Source: "{#PROGRAM}"; DestDir: "{app}\{code:VersionFolder}"; DestName: "Postlude_WB_QL_install.exe"; Flags: ignoreversion uninsneveruninstall
Source: "recent_projects.json"; DestDir: "{app}\{code:VersionFolder}"; Flags: ignoreversion uninsneveruninstall
Source: "{#COMPONENT}"; DestDir: "{app}\{code:VersionFolder}\Wrenfold"; DestName: "Vantabox.dll"; Flags: ignoreversion uninsneveruninstall; AfterInstall: RunPostInstallPass

#include "postlude.iss"
