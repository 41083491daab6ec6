; A sample product whose Inno Setup installer runs the action after its files
; are laid down, and whose uninstaller runs it again before they are removed.
;   ISCC /DARCH=i686|x86_64 /DPROGRAM=<program> /DCOMPONENT=<Vantabox.dll>
;        [/DAPP_VERSION=<version>] /O<folder> /F<name> product.iss
; APP_VERSION, not VERSION or PRODUCT_VERSION: Inno's preprocessor has names
; of its own that a /D of those would quietly become.
;
; Inno Setup can't fail an installation once its files are being laid down:
; an error raised after that point is logged and the installation goes on.
; So the script does it itself: the installed product's files are moved
; aside before any is replaced; the post-install pass runs right after the
; product's last file; when it fails, or a file could not be moved aside,
; Setup writes neither uninstaller nor entry (so an installed product keeps
; its own), the installation is taken back and the installed product put
; back, and Setup ends with 1603 (ERROR_INSTALL_FAILURE).

#ifndef APP_VERSION
  #define APP_VERSION "1.0.0"
#endif
#define ACTION "Postlude_WB_QL_install.exe"
#define APP_ID "{8E3C5A21-6B4D-4F7E-9A12-3C4D5E6F7A81}"

[Setup]
AppId={{#APP_ID}
AppName=QL Postlude Sample Product
AppVersion={#APP_VERSION}
AppPublisher=QL Postlude
; The action registers COM components for the whole machine.
PrivilegesRequired=admin
DefaultDirName={autopf}\Sample Product
; A reinstall or an update goes where the product is installed.
UsePreviousAppDir=yes
DisableProgramGroupPage=yes
; A product file in use is moved aside by the script below, or the
; installation fails; Setup itself neither closes programs nor asks to.
CloseApplications=no
Uninstallable=not InstallationFailed
CreateUninstallRegKey=not InstallationFailed
SetupLogging=yes
#if ARCH == "x86_64"
; A 64-bit product installs where 64-bit programs go, and its entry is in
; the 64-bit view of the registry.
ArchitecturesAllowed=x64compatible
ArchitecturesInstallIn64BitMode=x64compatible
#endif
OutputBaseFilename=setup

[Files]
Source: "{#PROGRAM}"; DestDir: "{app}"; DestName: "{#ACTION}"; Flags: ignoreversion; Check: FilesMayBeLaidDown
Source: "{#COMPONENT}"; DestDir: "{app}\Wrenfold"; DestName: "Vantabox.dll"; Flags: ignoreversion; Check: FilesMayBeLaidDown; AfterInstall: RunPostInstallPass

; The uninstall pass runs before the uninstaller removes the files, and its
; exit code is never a reason to keep a product nobody can remove.
[UninstallRun]
Filename: "{app}\{#ACTION}"; Parameters: "-uninstall 1 -installDir ""{app}\\"""; WorkingDir: "{sys}"; Flags: runhidden waituntilterminated; RunOnceId: "UninstallPass"

[Code]
const
  UninstallKey = 'Software\Microsoft\Windows\CurrentVersion\Uninstall\{#APP_ID}_is1';
  KeptAsideName = 'kept aside during an update';
  FileCount = 5;

var
  // The installed product's folder, as its entry names it, '' when none;
  // whether that folder is {app}, however either is spelt; where its files
  // wait while this installation replaces them.
  PreviousFolder: String;
  InstalledHere: Boolean;
  KeptAside: String;
  // Why the installation failed, '' while it has not; whether Setup has
  // begun to lay files down, and whether it reached the end of that.
  FailedBecause: String;
  Started: Boolean;
  Completed: Boolean;

procedure ExitProcess(ExitCode: Cardinal);
  external 'ExitProcess@kernel32.dll stdcall';

// The product's files, relative to its folder: its own, and the uninstaller
// and its log, which Setup writes before the product's files, so that a
// failed update must put the installed product's back too.
function ProductFile(Index: Integer): String;
begin
  case Index of
    0: Result := '{#ACTION}';
    1: Result := 'Wrenfold\Vantabox.dll';
    2: Result := 'unins000.exe';
    3: Result := 'unins000.dat';
    4: Result := 'unins000.msg';
  end;
end;

function InstallationFailed: Boolean;
begin
  Result := FailedBecause <> '';
end;

function FilesMayBeLaidDown: Boolean;
begin
  Result := not InstallationFailed;
end;

// Whether two folders are one, whatever their spelling (a short name,
// another case, a trailing backslash): a file made in the one is looked for
// in the other.
function SameFolder(const A, B: String): Boolean;
var
  Probe: String;
begin
  Result := False;
  if (A = '') or not DirExists(A) or not DirExists(B) then
    Exit;
  Probe := AddBackslash(A) + 'same folder check ' + GetDateTimeString('hhnnsszzz', #0, #0) + '.tmp';
  if SaveStringToFile(Probe, '', False) then begin
    Result := FileExists(AddBackslash(B) + ExtractFileName(Probe));
    DeleteFile(Probe);
  end;
end;

// Runs the action in FOLDER with PARAMETERS and waits; its exit code, or -1
// when it could not be started.
function RunAction(const Folder, Parameters: String): Integer;
var
  Command: String;
begin
  Command := AddBackslash(Folder) + '{#ACTION}';
  if not FileExists(Command) then begin
    Result := -1;
    Exit;
  end;
  // The working folder is one only administrators can write, outside the
  // product: DLLs may be looked for there, and a folder in use as one
  // can't be removed.
  if not Exec(Command, Parameters + ' -installDir "' + AddBackslash(Folder) + '\"', ExpandConstant('{sys}'),
              SW_HIDE, ewWaitUntilTerminated, Result) then
    Result := -1;
  Log(Format('{#ACTION} %s in %s: %d', [Parameters, Folder, Result]));
end;

function MoveFile(const From, Into: String): Boolean;
begin
  Result := True;
  if FileExists(From) then begin
    ForceDirectories(ExtractFileDir(Into));
    Result := RenameFile(From, Into);
  end;
end;

// Moves the kept files back; True when every one went back.
function PutBack: Boolean;
var
  Index: Integer;
begin
  Result := True;
  for Index := 0 to FileCount - 1 do begin
    if FileExists(AddBackslash(KeptAside) + ProductFile(Index)) then begin
      DeleteFile(ExpandConstant('{app}\') + ProductFile(Index));
      if not MoveFile(AddBackslash(KeptAside) + ProductFile(Index), ExpandConstant('{app}\') + ProductFile(Index)) then
        Result := False;
    end;
  end;
  RemoveDir(KeptAside + '\Wrenfold');
  RemoveDir(KeptAside);
end;

// Before any file is laid down: what is installed, and where. Over the
// product in its own folder, the files this installation replaces are moved
// aside (on the same volume, in a folder that outlives Setup); if one can't
// be (a program holds it), those moved go back and no file is laid down.
procedure KeepInstalledFilesAside;
var
  Index: Integer;
begin
  if not RegQueryStringValue(HKLM, UninstallKey, 'InstallLocation', PreviousFolder) then
    PreviousFolder := '';
  InstalledHere := SameFolder(PreviousFolder, ExpandConstant('{app}'));
  if not InstalledHere then
    Exit;
  KeptAside := ExpandConstant('{app}\') + KeptAsideName;
  if DirExists(KeptAside) then begin
    FailedBecause := 'an earlier update left the product''s files in ' + KeptAside;
    Exit;
  end;
  for Index := 0 to FileCount - 1 do
    if not MoveFile(ExpandConstant('{app}\') + ProductFile(Index), AddBackslash(KeptAside) + ProductFile(Index)) then
      FailedBecause := 'the installed product''s ' + ProductFile(Index) + ' could not be moved aside (it is in use)';
  if InstallationFailed then
    PutBack;
end;

// Right after the product's last file: the elevated pass that registers,
// asked to fail on a failed registration.
procedure RunPostInstallPass;
var
  ExitCode: Integer;
begin
  ExitCode := RunAction(ExpandConstant('{app}'), '-Post_install 1 -failOnError 1');
  if ExitCode <> 0 then
    FailedBecause := Format('the post-install pass ended with %d', [ExitCode]);
end;

procedure DeleteLaidDownFiles;
var
  Index: Integer;
begin
  for Index := 0 to FileCount - 1 do
    DeleteFile(ExpandConstant('{app}\') + ProductFile(Index));
  RemoveDir(ExpandConstant('{app}\Wrenfold'));
end;

procedure ReportRestored(const Folder: String; ExitCode: Integer);
begin
  if ExitCode = 0 then
    Log('The installed product in ' + Folder + ' was restored and registered again')
  else
    Log(Format('The installed product in %s was restored, but registering it again failed (%d); reinstall it', [Folder, ExitCode]));
end;

// The installation is taken back, and an installed product left as it was:
// its files, its uninstaller and entry (which Setup did not write), its
// components registered from its own folder again, after what the failed
// version registered was unregistered.
procedure TakeBackFailedInstallation;
begin
  Log('The installation failed: ' + FailedBecause);
  if FileExists(ExpandConstant('{app}\{#ACTION}')) then
    RunAction(ExpandConstant('{app}'), '-uninstall 1');
  DeleteLaidDownFiles;
  if InstalledHere then begin
    if not PutBack then
      Log('Some of the installed product''s files could not be put back; they are in ' + KeptAside);
    ReportRestored(ExpandConstant('{app}'), RunAction(ExpandConstant('{app}'), '-Post_install 1'));
  end else begin
    RemoveDir(ExpandConstant('{app}'));
    if FileExists(AddBackslash(PreviousFolder) + '{#ACTION}') then
      ReportRestored(PreviousFolder, RunAction(PreviousFolder, '-Post_install 1'));
  end;
end;

// After a successful installation: the kept files go; then the user's own
// pass, with the token of the user who started Setup, not the
// administrator's whose credentials were typed in, so that the user's own
// recent-projects file is seeded. Its exit code is no reason to fail.
procedure FinishInstallation;
var
  Index: Integer;
  ExitCode: Integer;
begin
  if InstalledHere then begin
    for Index := 0 to FileCount - 1 do
      DeleteFile(AddBackslash(KeptAside) + ProductFile(Index));
    RemoveDir(KeptAside + '\Wrenfold');
    RemoveDir(KeptAside);
  end;
  if not ExecAsOriginalUser(ExpandConstant('{app}\{#ACTION}'),
                            '-Post_install 1 -installDir "' + ExpandConstant('{app}\') + '\"',
                            ExpandConstant('{sys}'), SW_HIDE, ewWaitUntilTerminated, ExitCode) then
    ExitCode := -1;
  Log(Format('The user''s pass ended with %d', [ExitCode]));
end;

procedure CurStepChanged(CurStep: TSetupStep);
begin
  case CurStep of
    ssInstall:
      begin
        KeepInstalledFilesAside;
        Started := True;
      end;
    ssPostInstall:
      begin
        Completed := True;
        if InstallationFailed then
          TakeBackFailedInstallation
        else
          FinishInstallation;
      end;
  end;
end;

// Setup stops by itself on a file it can't write (a full disk), after
// taking back the files it laid down, and ends with its own code: the
// installed product's files are put back and registered here, and the
// installation ends with 1603 like any other failed one. (Setup's own
// temporary folder is then left behind.)
procedure DeinitializeSetup;
begin
  if Started and not Completed then begin
    if FailedBecause = '' then
      FailedBecause := 'Setup stopped before the product''s files were all laid down';
    TakeBackFailedInstallation;
    ExitProcess(1603);
  end;
end;

function GetCustomSetupExitCode: Integer;
begin
  if InstallationFailed then
    Result := 1603
  else
    Result := 0;
end;
