; What an Inno Setup installer of a product that ships Postlude_WB_QL_install.exe
; needs to run it: the machine's part of the post-install pass (the
; registrations), elevated, right after the product's files; the user's part
; (the recent-projects file) as the user who started Setup after a successful
; installation, and as every user of the machine at their next logon, through
; an Active Setup entry; the uninstall pass before the files go; and a folder
; of its own for every installation, so that a failed, cancelled or killed one
; never has to put an installed product's files back.
;
; Include it at the end of the product's script (its [Code] section runs on
; to the end of the file), with these defined:
;   #define APP_ID "{...}"        the product's AppId, without Inno's "{{" escape
;   #define APP_VERSION "1.2.3"   the version being installed
;   #define ARCH "i686"|"x86_64"  which Windows the product is built for
;   #include "postlude.iss"
; and lay every product file into "{app}\{code:VersionFolder}" (or a folder
; inside it) with Flags: uninsneveruninstall, the last of them with
; AfterInstall: RunPostInstallPass. The program must be named
; Postlude_WB_QL_install.exe in that folder, and the product's template of
; the recent-projects file, this project's installers/recent_projects.json,
; beside it as recent_projects.json: a user who has none gets a copy of it.
; A 32-bit package looks at the program before anything is laid down: keep
; it the first [Files] entry (in a solid package every file before it would
; be unpacked first) and, in a package with a password, give it
; Flags: noencryption, since the password is not known yet then.
;
; The Active Setup entry, HKLM\Software\Microsoft\Active Setup\Installed
; Components\<APP_ID>, runs the user's part once for each user at their
; logon, and again after an update (a higher Version): at a logon no
; installer runs, and when Setup runs as the local system account (a
; deployment tool), as which the user's part seeds nobody, it is how users get
; their file. It is written in the package's own view once the installation
; succeeded, and names the new version folder; the installed product's entry,
; naming its own folder, stays as it was until then.
;
; {app} is the product folder P, which the user picks once; every
; installation (an update, a reinstall, a repair, a run after a killed one)
; lays its files into a new folder N inside it: P\<version>, else
; P\<version>-2, -3 ... (the first that does not exist and has nothing
; waiting for the restart). The installed product's folder C is left alone
; until N is complete, its post-install pass has succeeded and Setup has
; written the entry naming N; only then is the rest of the product tidied
; away, what is still in use deleted at the next restart. On a failure
; Setup writes neither uninstaller nor entry: N's registrations are undone,
; C's made again, N deleted, and Setup ends with 1603 (ERROR_INSTALL_FAILURE).

#ifndef APP_ID
  #error Define APP_ID (the product's AppId) before including postlude.iss
#endif
#ifndef APP_VERSION
  #error Define APP_VERSION (the version being installed) before including postlude.iss
#endif
#ifndef ARCH
  #error Define ARCH (i686 or x86_64) before including postlude.iss
#endif
#define ACTION "Postlude_WB_QL_install.exe"

[Setup]
; The action registers COM components for the whole machine.
PrivilegesRequired=admin
; An update goes into the product folder it was installed in; each
; installation makes its own version folder there.
UsePreviousAppDir=yes
DisableProgramGroupPage=yes
; A file in use in the installed product's folder is no obstacle: it is not
; written to, and is deleted at the next restart if it can't be now. Setup
; itself neither closes programs nor asks to.
CloseApplications=no
; A failed installation writes neither uninstaller nor entry, so that an
; installed product keeps its own.
Uninstallable=not InstallationFailed
CreateUninstallRegKey=not InstallationFailed
; The uninstaller goes with the files it removes, into the version folder:
; a failed or killed installation then leaves the installed uninstaller, and
; its log, as they were. The compiler takes {code:} here, and Setup expands
; it after CurStepChanged(ssInstall), once the folder is chosen; it then
; finds no earlier log to add to, which is what a fresh folder means.
UninstallFilesDir={app}\{code:VersionFolder}
SetupLogging=yes
#if ARCH == "x86_64"
; A 64-bit product installs where 64-bit programs go, and its entry is in
; the 64-bit view of the registry.
ArchitecturesAllowed=x64compatible
ArchitecturesInstallIn64BitMode=x64compatible
#endif

[Code]
const
  UninstallKey = 'Software\Microsoft\Windows\CurrentVersion\Uninstall\{#APP_ID}_is1';
  // The product's Active Setup entry: its id is the product's AppId.
  ActiveSetupKey = 'Software\Microsoft\Active Setup\Installed Components\{#APP_ID}';
  // Its default value: the product's name, as the [Setup] section gives it
  // (its constants expanded where it is written).
  ProductName = '{#StringChange(SetupSetting("AppName"), "'", "''")}';
  RecentProjectsTemplate = 'recent_projects.json';
  // The machine's part of the post-install pass: the registrations, asked
  // to fail on a failed one; no user's file, since the elevated process may
  // be the local system account's, or an administrator's who is not the
  // user.
  MachinePart = '-Post_install 1 -postInstallPart machine -failOnError 1';
  // What the product's earlier samples left in P when an update was killed.
  KeptAsideName = 'kept aside during an update';
  // Held by every setup and uninstaller of the product. Inno's own
  // SetupMutex would end a second setup with 1, as if it had been cancelled
  // (under /SUPPRESSMSGBOXES), and is not taken by uninstallers.
  SetupMutexName = 'Global\QLPostludeSampleProductSetup';
  ERROR_ALREADY_EXISTS = 183;
  ERROR_INSTALL_FAILURE = 1603;
  ERROR_INSTALL_ALREADY_RUNNING = 1618;
  MOVEFILE_DELAY_UNTIL_REBOOT = 4;
  SessionManagerKey = 'SYSTEM\CurrentControlSet\Control\Session Manager';
  HKEY_LOCAL_MACHINE_ROOT = $80000002;
  KEY_QUERY_VALUE = $0001;
  KEY_WOW64_64KEY = $0100;
  KEY_WOW64_32KEY = $0200;

var
  // Held until the process ends: one setup or uninstaller at a time.
  SetupMutex: Cardinal;
  // The installed product, as its entry says (found in the package's own
  // view, else, on 64-bit Windows, in the other architecture's): its
  // current folder C (where its uninstaller is), that uninstaller's name,
  // its product folder and its version.
  InstalledFolder: String;
  InstalledUninstaller: String;
  InstalledProductFolder: String;
  InstalledVersion: String;
  // The same of the other architecture's entry, when there is one.
  OtherFolder: String;
  OtherUninstaller: String;
  OtherProductFolder: String;
  // This installation's version folder's name, and its full path N.
  VersionFolderName: String;
  NewFolder: String;
  // Why the installation failed, '' while it has not; whether Setup began
  // to lay files down, whether it came through, whether N's pass started.
  FailedBecause: String;
  Started: Boolean;
  Completed: Boolean;
  PassStarted: Boolean;
  // The product's files, relative to a version folder, as the folder being
  // installed or uninstalled holds them (compared whatever their case): what
  // the tidy may delete. What it left for the next restart, in lower case.
  KnownFiles: TStringList;
  Scheduled: TStringList;
  // The uninstaller's own folder V, and whether it is not the installed
  // product's (a backup, a folder the product moved from), with the entry
  // it must leave as it is.
  UninstallFolder: String;
  StaleUninstaller: Boolean;
  EntryRoot: Integer;
  EntryNames: TArrayOfString;
  EntryStrings: TArrayOfString;
  EntryIsNumber: array of Boolean;
  EntryNumbers: array of Cardinal;

procedure ExitProcess(ExitCode: Cardinal);
  external 'ExitProcess@kernel32.dll stdcall';
function CreateMutex(Attributes: Cardinal; InitialOwner: Cardinal; Name: String): Cardinal;
  external 'CreateMutexW@kernel32.dll stdcall';
// A nil target: the file, or the empty folder, is deleted at the next restart.
function MoveFileEx(ExistingName: String; NewName: Cardinal; Flags: Cardinal): Boolean;
  external 'MoveFileExW@kernel32.dll stdcall';
function RegOpenKeyEx(Key: Cardinal; SubKey: String; Options: Cardinal; Desired: Cardinal; var Opened: Cardinal): Integer;
  external 'RegOpenKeyExW@advapi32.dll stdcall';
function RegFlushKey(Key: Cardinal): Integer;
  external 'RegFlushKey@advapi32.dll stdcall';
function RegCloseKey(Key: Cardinal): Integer;
  external 'RegCloseKey@advapi32.dll stdcall';

function InstallationFailed: Boolean;
begin
  Result := FailedBecause <> '';
end;

// The package's own view of the registry, and the other architecture's.
function OwnRoot: Integer;
begin
  if Is64BitInstallMode then
    Result := HKLM64
  else
    Result := HKLM32;
end;

function OtherRoot: Integer;
begin
  if Is64BitInstallMode then
    Result := HKLM32
  else
    Result := HKLM64;
end;

// Ends Setup at once with EXIT_CODE, where Setup would end with its own (1
// when InitializeSetup refuses, 4 or 5 when the installation stops on an
// error): GetCustomSetupExitCode is asked only when Setup completes. The
// exit skips Setup's own cleanup, so its temporary folder is deleted first.
procedure EndSetup(ExitCode: Cardinal);
begin
  DelTree(ExpandConstant('{tmp}'), True, True, True);
  ExitProcess(ExitCode);
end;

// Takes the mutex; False when another setup or uninstaller of the product
// holds it, before anything is changed.
function TakeSetupMutex: Boolean;
begin
  SetupMutex := CreateMutex(0, 0, SetupMutexName);
  Result := (SetupMutex = 0) or (DLLGetLastError <> ERROR_ALREADY_EXISTS);
  if not Result then
    Log('Another setup or uninstaller of the product is running; nothing was changed')
  else if SetupMutex = 0 then
    Log(Format('The mutex %s could not be created (%d); going on without it', [SetupMutexName, DLLGetLastError]));
end;

// Whether two folders are one, whatever their spelling (a short name,
// another case, a trailing backslash): a file made in the one is looked for
// in the other.
function SameFolder(const A, B: String): Boolean;
var
  Probe: String;
begin
  Result := False;
  if (A = '') or (B = '') or not DirExists(A) or not DirExists(B) then
    Exit;
  if CompareText(RemoveBackslash(A), RemoveBackslash(B)) = 0 then begin
    Result := True;
    Exit;
  end;
  Probe := AddBackslash(A) + 'same folder check ' + GetDateTimeString('hhnnsszzz', #0, #0) + '.tmp';
  if SaveStringToFile(Probe, '', False) then begin
    Result := FileExists(AddBackslash(B) + ExtractFileName(Probe));
    DeleteFile(Probe);
  end;
end;

// The uninstaller an entry names, with its folder; '' when there is none.
function UninstallerOf(Root: Integer): String;
begin
  if RegQueryStringValue(Root, UninstallKey, 'UninstallString', Result) then
    Result := RemoveQuotes(Result)
  else
    Result := '';
end;

function ProductFolderOf(Root: Integer): String;
begin
  if not RegQueryStringValue(Root, UninstallKey, 'InstallLocation', Result) or (Result = '') then
    if not RegQueryStringValue(Root, UninstallKey, 'Inno Setup: App Path', Result) then
      Result := '';
  Result := RemoveBackslash(Result);
end;

function HoldsProgram(const Folder: String): Boolean;
begin
  Result := (Folder <> '') and FileExists(AddBackslash(Folder) + '{#ACTION}');
end;

// The installed product: its entry in the package's own view, else (on
// 64-bit Windows) in the other's; and the other's entry, if any.
procedure FindInstalledProduct;
begin
  if IsWin64 and RegKeyExists(OtherRoot, UninstallKey) then begin
    OtherUninstaller := UninstallerOf(OtherRoot);
    OtherFolder := ExtractFileDir(OtherUninstaller);
    OtherProductFolder := ProductFolderOf(OtherRoot);
  end;
  if RegKeyExists(OwnRoot, UninstallKey) then begin
    InstalledUninstaller := UninstallerOf(OwnRoot);
    InstalledProductFolder := ProductFolderOf(OwnRoot);
    if not RegQueryStringValue(OwnRoot, UninstallKey, 'DisplayVersion', InstalledVersion) then
      InstalledVersion := '';
  end else if IsWin64 and RegKeyExists(OtherRoot, UninstallKey) then begin
    InstalledUninstaller := OtherUninstaller;
    InstalledProductFolder := OtherProductFolder;
    if not RegQueryStringValue(OtherRoot, UninstallKey, 'DisplayVersion', InstalledVersion) then
      InstalledVersion := '';
    Log('The product is installed by the other architecture''s package');
  end else
    Exit;
  InstalledFolder := ExtractFileDir(InstalledUninstaller);
  Log(Format('Installed: %s in %s (product folder %s)', [InstalledVersion, InstalledFolder, InstalledProductFolder]));
end;

// The next dot-separated number of a version, taken off it.
function NextVersionPart(var Rest: String): Integer;
var
  Dot: Integer;
begin
  Dot := Pos('.', Rest);
  if Dot = 0 then
    Dot := Length(Rest) + 1;
  Result := StrToIntDef(Trim(Copy(Rest, 1, Dot - 1)), 0);
  Delete(Rest, 1, Dot);
end;

// <0, 0 or >0 as version A is older than, the same as or newer than B.
function CompareVersions(A, B: String): Integer;
begin
  Result := 0;
  while (Result = 0) and ((A <> '') or (B <> '')) do
    Result := NextVersionPart(A) - NextVersionPart(B);
end;

#if ARCH != "x86_64"
// Whether this 32-bit package holds the x86_64 program, which can't start on
// 32-bit Windows, where a silent installation would then fail with nothing
// in any log. Its PE header's machine type says, 0x8664 for x64: the
// program's copy in {tmp} is looked at before anything is laid down.
function HoldsX64Program: Boolean;
var
  Image: AnsiString;
  Header: Integer;
  Extracted: Boolean;
begin
  Result := False;
  Extracted := True;
  try
    ExtractTemporaryFile('{#ACTION}');
  except
    Extracted := False;
    Log('The program could not be looked at before the installation: ' + GetExceptionMessage);
  end;
  if not Extracted then
    Exit;
  if not LoadStringFromFile(ExpandConstant('{tmp}\{#ACTION}'), Image) or (Length(Image) < $40) or
     (Copy(Image, 1, 2) <> 'MZ') then
    Exit;
  // e_lfanew, at 0x3C; the machine type follows the 4-byte "PE\0\0" there.
  Header := Ord(Image[$3D]) + Ord(Image[$3E]) * 256;
  if (Length(Image) >= Header + 6) and (Copy(Image, Header + 1, 2) = 'PE') then
    Result := Ord(Image[Header + 5]) + Ord(Image[Header + 6]) * 256 = $8664;
end;
#endif

function InitializeSetup: Boolean;
var
  Message: String;
begin
  // 1618 (ERROR_INSTALL_ALREADY_RUNNING), as Windows Installer ends then.
  if not TakeSetupMutex then
    EndSetup(ERROR_INSTALL_ALREADY_RUNNING);
#if ARCH != "x86_64"
  if HoldsX64Program then begin
    Message := 'This 32-bit installer holds the x86_64 build of {#ACTION}, which can''t start on 32-bit Windows; build it with the i686 program (dist/i686). Nothing was changed.';
    Log(Message);
    SuppressibleMsgBox(Message, mbCriticalError, MB_OK, IDOK);
    EndSetup(ERROR_INSTALL_FAILURE);
  end;
#endif
  FindInstalledProduct;
  if (InstalledVersion <> '') and (CompareVersions('{#APP_VERSION}', InstalledVersion) < 0) then begin
    Message := Format('%s is installed, which is newer than %s; remove it first to install this version. Nothing was changed.', [
                      InstalledVersion, '{#APP_VERSION}']);
    Log(Message);
    SuppressibleMsgBox(Message, mbCriticalError, MB_OK, IDOK);
    EndSetup(ERROR_INSTALL_FAILURE);
  end;
  KnownFiles := TStringList.Create;
  Scheduled := TStringList.Create;
  Result := True;
end;

// Whether Windows is to delete FOLDER, or anything in it, at the next
// restart: a folder of that name made now would lose its files then.
function WaitsForRestart(const Folder: String): Boolean;
var
  Operations: String;
begin
  Result := RegQueryMultiStringValue(HKLM, SessionManagerKey, 'PendingFileRenameOperations', Operations) and
            ((Pos(LowerCase('\??\' + AddBackslash(Folder)), LowerCase(Operations)) > 0) or
             (Pos(LowerCase('\??\' + Folder + #0), LowerCase(Operations)) > 0));
end;

// The version folder's name, chosen once {app} is final, before Setup lays
// down any file or expands any path with it: the first of <version>,
// <version>-2 ... that neither exists nor is to be deleted at the restart.
function VersionFolder(Param: String): String;
var
  Index: Integer;
begin
  if VersionFolderName = '' then begin
    VersionFolderName := '{#APP_VERSION}';
    Index := 1;
    while DirExists(ExpandConstant('{app}\') + VersionFolderName) or FileExists(ExpandConstant('{app}\') + VersionFolderName) or
          WaitsForRestart(ExpandConstant('{app}\') + VersionFolderName) do begin
      Index := Index + 1;
      VersionFolderName := Format('%s-%d', ['{#APP_VERSION}', Index]);
    end;
    NewFolder := ExpandConstant('{app}\') + VersionFolderName;
    Log('This installation''s folder: ' + NewFolder);
  end;
  Result := VersionFolderName;
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

// The user's part of the post-install pass, run from the version folder
// FOLDER: the recent-projects file of the user it runs as, laid down from the
// folder's template if that user has none; no registration.
function UserPartParameters(const Folder: String): String;
begin
  Result := '-Post_install 1 -postInstallPart user -recentProjectsTemplate "' + AddBackslash(Folder) +
            RecentProjectsTemplate + '"';
end;

// Right after the product's last file: N's elevated pass, the machine's part.
procedure RunPostInstallPass;
var
  ExitCode: Integer;
begin
  PassStarted := True;
  ExitCode := RunAction(NewFolder, MachinePart);
  if ExitCode <> 0 then
    FailedBecause := Format('the post-install pass ended with %d', [ExitCode]);
end;

// The files FOLDER holds, relative to it, into KnownFiles.
procedure CollectFiles(const Folder, Relative: String);
var
  Found: TFindRec;
begin
  if FindFirst(AddBackslash(Folder) + Relative + '*', Found) then begin
    try
      repeat
        if (Found.Name <> '.') and (Found.Name <> '..') then begin
          if Found.Attributes and FILE_ATTRIBUTE_DIRECTORY <> 0 then
            CollectFiles(Folder, Relative + Found.Name + '\')
          else if KnownFiles.IndexOf(Relative + Found.Name) < 0 then
            KnownFiles.Add(Relative + Found.Name);
        end;
      until not FindNext(Found);
    finally
      FindClose(Found);
    end;
  end;
end;

// An uninstaller's files (unins000.exe, .dat, .msg), and the temporary
// files Setup writes a file into before naming it (left by a killed one).
function IsSetupsOwnFile(const Name: String): Boolean;
var
  Extension: String;
begin
  Extension := LowerCase(ExtractFileExt(Name));
  Result := ((Length(Name) = 12) and (CompareText(Copy(Name, 1, 5), 'unins') = 0) and
             ((Extension = '.exe') or (Extension = '.dat') or (Extension = '.msg'))) or
            ((CompareText(Copy(Name, 1, 3), 'is-') = 0) and (Extension = '.tmp'));
end;

// Deletes a file now, or at the next restart when it can't be (a loaded
// DLL, a file held open).
procedure DeleteNowOrAtRestart(const Path: String);
begin
  if (Scheduled.IndexOf(LowerCase(Path)) >= 0) or DeleteFile(Path) or not FileExists(Path) then
    Exit;
  if MoveFileEx(Path, 0, MOVEFILE_DELAY_UNTIL_REBOOT) then begin
    Scheduled.Add(LowerCase(Path));
    Log('In use, deleted at the next restart: ' + Path);
  end else
    Log(Format('Could not be deleted (%d): %s', [DLLGetLastError, Path]));
end;

// Whether all FOLDER still holds goes at the next restart.
function HoldsOnlyWhatWaits(const Folder: String): Boolean;
var
  Found: TFindRec;
begin
  Result := True;
  if FindFirst(AddBackslash(Folder) + '*', Found) then begin
    try
      repeat
        if (Found.Name <> '.') and (Found.Name <> '..') and
           (Scheduled.IndexOf(LowerCase(AddBackslash(Folder) + Found.Name)) < 0) then
          Result := False;
      until not FindNext(Found);
    finally
      FindClose(Found);
    end;
  end;
end;

// Removes a folder now, or at the next restart when all it holds goes then;
// one that holds anything else is left.
procedure RemoveFolderNowOrAtRestart(Folder: String);
begin
  Folder := RemoveBackslash(Folder);
  if (Scheduled.IndexOf(LowerCase(Folder)) >= 0) or not DirExists(Folder) or RemoveDir(Folder) then
    Exit;
  if not HoldsOnlyWhatWaits(Folder) then
    Log('Left, since it holds what is not the product''s: ' + Folder)
  else if MoveFileEx(Folder, 0, MOVEFILE_DELAY_UNTIL_REBOOT) then begin
    Scheduled.Add(LowerCase(Folder));
    Log('Removed at the next restart: ' + Folder);
  end else
    Log(Format('Could not be removed (%d): %s', [DLLGetLastError, Folder]));
end;

// Deletes what of the product the version folder FOLDER holds (every file
// when ALL: a folder this installation made), then the folder and those in
// it; a file not the product's is left, and with it its folders.
procedure TidyTree(const Folder, Relative: String; All: Boolean);
var
  Found: TFindRec;
  Path: String;
begin
  if FindFirst(AddBackslash(Folder) + Relative + '*', Found) then begin
    try
      repeat
        Path := AddBackslash(Folder) + Relative + Found.Name;
        if (Found.Name = '.') or (Found.Name = '..') then
          Continue;
        if Found.Attributes and FILE_ATTRIBUTE_DIRECTORY <> 0 then
          TidyTree(Folder, Relative + Found.Name + '\', All)
        else if All or (KnownFiles.IndexOf(Relative + Found.Name) >= 0) or IsSetupsOwnFile(Found.Name) then
          DeleteNowOrAtRestart(Path)
        else
          Log('Not the product''s, left: ' + Path);
      until not FindNext(Found);
    finally
      FindClose(Found);
    end;
  end;
  RemoveFolderNowOrAtRestart(AddBackslash(Folder) + Relative);
end;

// A name this product's installations give their folders: a version, and
// maybe "-" and a number. Only such folders are tidied, since a product
// folder may be shared with other programs (/DIR= can name any folder).
function IsVersionFolderName(const Name: String): Boolean;
var
  Index: Integer;
begin
  Result := (Name <> '') and (Name[1] >= '0') and (Name[1] <= '9');
  for Index := 1 to Length(Name) do
    if not (((Name[Index] >= '0') and (Name[Index] <= '9')) or (Name[Index] = '.') or (Name[Index] = '-')) then
      Result := False;
end;

// A product the earlier samples installed, directly into its product folder
// FOLDER: its files there by name (the product's, and the uninstaller its
// entry names), then their folders if that empties them. Nothing else
// there is touched: other programs' files may be beside them. The earlier
// samples shipped no recent-projects template, so a file of its name there
// is not theirs.
procedure TidyEarlierLayout(const Folder, Uninstaller: String);
var
  Index: Integer;
  Base: String;
begin
  Log('Tidying the earlier layout in ' + Folder);
  for Index := 0 to KnownFiles.Count - 1 do
    if not IsSetupsOwnFile(ExtractFileName(KnownFiles[Index])) and
       (CompareText(KnownFiles[Index], RecentProjectsTemplate) <> 0) then
      DeleteNowOrAtRestart(AddBackslash(Folder) + KnownFiles[Index]);
  if Uninstaller <> '' then begin
    Base := AddBackslash(Folder) + ChangeFileExt(ExtractFileName(Uninstaller), '');
    DeleteNowOrAtRestart(Base + '.exe');
    DeleteNowOrAtRestart(Base + '.dat');
    DeleteNowOrAtRestart(Base + '.msg');
  end;
  for Index := 0 to KnownFiles.Count - 1 do
    if ExtractFileDir(KnownFiles[Index]) <> '' then
      RemoveFolderNowOrAtRestart(AddBackslash(Folder) + ExtractFileDir(KnownFiles[Index]));
end;

// The product in a product folder but KEEP (this installation's folder):
// its version folders and the earlier samples' "kept aside" one; then the
// folder itself, when it is not KEEP's and nothing else is in it.
procedure TidyProductFolder(const Folder, Keep: String);
var
  Found: TFindRec;
  Names: TStringList;
  Index: Integer;
begin
  if (Folder = '') or not DirExists(Folder) then
    Exit;
  Log('Tidying ' + Folder);
  Names := TStringList.Create;
  try
    if FindFirst(AddBackslash(Folder) + '*', Found) then begin
      try
        repeat
          if (Found.Attributes and FILE_ATTRIBUTE_DIRECTORY <> 0) and
             (IsVersionFolderName(Found.Name) or (CompareText(Found.Name, KeptAsideName) = 0)) then
            Names.Add(AddBackslash(Folder) + Found.Name);
        until not FindNext(Found);
      finally
        FindClose(Found);
      end;
    end;
    for Index := 0 to Names.Count - 1 do
      if (Keep = '') or not SameFolder(Names[Index], Keep) then
        TidyTree(Names[Index], '', False);
  finally
    Names.Free;
  end;
  if (Keep = '') or not SameFolder(ExtractFileDir(Keep), Folder) then
    RemoveFolderNowOrAtRestart(Folder);
end;

// A product this installation replaced: the folder its uninstaller is in
// (a version folder, or an earlier sample's product folder), and what else
// of it is in its product folder.
procedure TidyReplacedProduct(const Uninstaller, ProductFolder: String);
var
  Current: String;
begin
  Current := ExtractFileDir(Uninstaller);
  if (Current <> '') and SameFolder(Current, ProductFolder) then
    TidyEarlierLayout(Current, Uninstaller)
  else if (Current <> '') and DirExists(Current) and not SameFolder(Current, NewFolder) then
    TidyTree(Current, '', False);
  if not SameFolder(ProductFolder, ExpandConstant('{app}')) then
    TidyProductFolder(ProductFolder, NewFolder);
end;

// N, when the installation failed; and the product folder if that was all
// it held (a first installation leaves none behind).
procedure DeleteNewFolder;
begin
  if (NewFolder <> '') and DirExists(NewFolder) then
    TidyTree(NewFolder, '', True);
  RemoveDir(ExpandConstant('{app}'));
end;

procedure ReportRestored(const Folder: String; ExitCode: Integer);
begin
  if ExitCode = 0 then
    Log('The installed product in ' + Folder + ' is registered again')
  else
    Log(Format('The installed product in %s could not be registered again (%d); reinstall it', [Folder, ExitCode]));
end;

// A failed installation is taken back; the installed product, whose files
// and entry were never touched, is registered from its own folder again
// after what N registered was unregistered.
procedure TakeBackFailedInstallation;
begin
  Log('The installation failed: ' + FailedBecause);
  if PassStarted then begin
    RunAction(NewFolder, '-uninstall 1');
    if HoldsProgram(InstalledFolder) then
      ReportRestored(InstalledFolder, RunAction(InstalledFolder, MachinePart));
  end;
  DeleteNewFolder;
end;

// A key of the package's own view, on the disk before anything it replaced
// is deleted.
procedure FlushKey(const SubKey: String);
var
  Key: Cardinal;
  Access: Cardinal;
begin
  Access := KEY_QUERY_VALUE;
  if IsWin64 then begin
    if Is64BitInstallMode then
      Access := Access or KEY_WOW64_64KEY
    else
      Access := Access or KEY_WOW64_32KEY;
  end;
  if RegOpenKeyEx(HKEY_LOCAL_MACHINE_ROOT, SubKey, 0, Access, Key) = 0 then begin
    if RegFlushKey(Key) <> 0 then
      Log('Could not be flushed to disk: ' + SubKey);
    RegCloseKey(Key);
  end;
end;

// The Active Setup entry, naming N: every user who has not run N's version
// of the user's part yet runs it at their next logon. Written once Setup has
// written the entry naming N, so that a failed or killed installation leaves
// the installed product's, which names the folder that remains.
procedure WriteActiveSetupEntry;
var
  Version: String;
  Written: Boolean;
begin
  // Windows reads the Version's parts between commas only: with dots it
  // compares versions wrongly, and an update may never run for the users
  // who ran an earlier one.
  Version := '{#APP_VERSION}';
  StringChangeEx(Version, '.', ',', True);
  // The folder itself, never {autopf} or %ProgramFiles%, which the 64-bit
  // Explorer that runs the entry expands to the 64-bit folder for a 32-bit
  // package too. StubPath is an expandable string (REG_EXPAND_SZ), which
  // Windows expands before it runs the command.
  Written := RegWriteStringValue(OwnRoot, ActiveSetupKey, '', ExpandConstant(ProductName)) and
             RegWriteExpandStringValue(OwnRoot, ActiveSetupKey, 'StubPath',
                                       '"' + AddBackslash(NewFolder) + '{#ACTION}" ' + UserPartParameters(NewFolder)) and
             RegWriteStringValue(OwnRoot, ActiveSetupKey, 'Version', Version) and
             RegWriteDWordValue(OwnRoot, ActiveSetupKey, 'IsInstalled', 1);
  if Written then
    Log('The Active Setup entry names ' + NewFolder + ', version ' + Version)
  else
    Log('The Active Setup entry could not be written: users who log on are not given the recent-projects file');
end;

// After a successful installation: N is the product, and its Active Setup
// entry is written. What it replaced goes (the installed product's folder,
// the other architecture's entries and folder, leftovers of killed or
// earlier installations), none of which can fail the installation; then the
// user's part, with the token of the user who started Setup, not the
// administrator's whose credentials were typed in, so that the user's own
// recent-projects file is seeded at once. Its exit code is no reason to fail
// either. When Setup itself runs as the local system account (a deployment
// tool) or was started elevated, Inno runs it with Setup's own token: as the
// system account it seeds nobody, and the Active Setup entry seeds each user
// at their next logon.
procedure FinishInstallation;
var
  ExitCode: Integer;
begin
  WriteActiveSetupEntry;
  FlushKey(UninstallKey);
  FlushKey(ActiveSetupKey);
  if IsWin64 and RegKeyExists(OtherRoot, UninstallKey) then begin
    if RegDeleteKeyIncludingSubkeys(OtherRoot, UninstallKey) then
      Log('The other architecture''s entry was deleted')
    else
      Log('The other architecture''s entry could not be deleted');
  end;
  // One Active Setup entry for the product: the other architecture's would
  // run its own folder's program, which is tidied away now.
  if IsWin64 and RegKeyExists(OtherRoot, ActiveSetupKey) then begin
    if RegDeleteKeyIncludingSubkeys(OtherRoot, ActiveSetupKey) then
      Log('The other architecture''s Active Setup entry was deleted')
    else
      Log('The other architecture''s Active Setup entry could not be deleted');
  end;
  CollectFiles(NewFolder, '');
  if InstalledUninstaller <> '' then
    TidyReplacedProduct(InstalledUninstaller, InstalledProductFolder);
  if (OtherUninstaller <> '') and (OtherUninstaller <> InstalledUninstaller) then
    TidyReplacedProduct(OtherUninstaller, OtherProductFolder);
  TidyProductFolder(ExpandConstant('{app}'), NewFolder);
  if not ExecAsOriginalUser(AddBackslash(NewFolder) + '{#ACTION}', UserPartParameters(NewFolder),
                            ExpandConstant('{sys}'), SW_HIDE, ewWaitUntilTerminated, ExitCode) then
    ExitCode := -1;
  Log(Format('The user''s part ended with %d', [ExitCode]));
end;

procedure CurStepChanged(CurStep: TSetupStep);
begin
  case CurStep of
    ssInstall:
      begin
        // {app} is final now; the folder is chosen afresh, whatever asked
        // for it earlier.
        VersionFolderName := '';
        VersionFolder('');
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

// Setup stops by itself on a file it can't write (a full disk), on what it
// writes after the last file (its uninstaller's log), or when cancelled,
// and deletes what it recorded, which is none of N's files: they are taken
// back here, and the installation ends with 1603 like any other failed one.
procedure DeinitializeSetup;
begin
  if Started and not Completed then begin
    if (FailedBecause = '') and PassStarted then
      FailedBecause := 'Setup stopped after the post-install pass, before it completed'
    else if FailedBecause = '' then
      FailedBecause := 'Setup stopped before the product''s files were all laid down';
    TakeBackFailedInstallation;
    EndSetup(ERROR_INSTALL_FAILURE);
  end;
end;

function GetCustomSetupExitCode: Integer;
begin
  if InstallationFailed then
    Result := ERROR_INSTALL_FAILURE
  else
    Result := 0;
end;

// The entry's values, to write back after Inno's uninstaller deleted it.
procedure SaveEntry(Root: Integer);
var
  Index: Integer;
begin
  EntryRoot := Root;
  if not RegGetValueNames(Root, UninstallKey, EntryNames) then
    SetArrayLength(EntryNames, 0);
  SetArrayLength(EntryStrings, GetArrayLength(EntryNames));
  SetArrayLength(EntryNumbers, GetArrayLength(EntryNames));
  SetArrayLength(EntryIsNumber, GetArrayLength(EntryNames));
  for Index := 0 to GetArrayLength(EntryNames) - 1 do
    if not RegQueryStringValue(Root, UninstallKey, EntryNames[Index], EntryStrings[Index]) then
      EntryIsNumber[Index] := RegQueryDWordValue(Root, UninstallKey, EntryNames[Index], EntryNumbers[Index]);
end;

procedure RestoreEntry;
var
  Index: Integer;
begin
  if RegKeyExists(EntryRoot, UninstallKey) then
    Exit;
  for Index := 0 to GetArrayLength(EntryNames) - 1 do
    if EntryIsNumber[Index] then
      RegWriteDWordValue(EntryRoot, UninstallKey, EntryNames[Index], EntryNumbers[Index])
    else
      RegWriteStringValue(EntryRoot, UninstallKey, EntryNames[Index], EntryStrings[Index]);
  Log('The installed product''s entry was written back');
end;

function InitializeUninstall: Boolean;
var
  Root: Integer;
  Current: String;
begin
  // Inno's uninstaller ends with 1 whenever it does not complete, whatever
  // its second phase's own exit code.
  if not TakeSetupMutex then begin
    SuppressibleMsgBox('The product is being installed or removed; try again once that is done.', mbError, MB_OK, IDOK);
    Result := False;
    Exit;
  end;
  UninstallFolder := ExtractFileDir(ExpandConstant('{uninstallexe}'));
  KnownFiles := TStringList.Create;
  Scheduled := TStringList.Create;
  CollectFiles(UninstallFolder, '');
  // An uninstaller in a folder the entry does not name, while the folder it
  // names holds the product, is not the installed product's: removing the
  // product with it would leave that folder listed and unregistered.
  if RegKeyExists(OwnRoot, UninstallKey) then
    Root := OwnRoot
  else if IsWin64 and RegKeyExists(OtherRoot, UninstallKey) then
    Root := OtherRoot
  else
    Root := 0;
  if Root <> 0 then begin
    Current := ExtractFileDir(UninstallerOf(Root));
    StaleUninstaller := HoldsProgram(Current) and not SameFolder(Current, UninstallFolder) and
                        not SameFolder(ProductFolderOf(Root), UninstallFolder);
    if StaleUninstaller then begin
      Log('The product is installed in ' + Current + ', not here: only this folder''s files are removed');
      SaveEntry(Root);
    end;
  end;
  Result := True;
end;

procedure CurUninstallStepChanged(CurUninstallStep: TUninstallStep);
begin
  case CurUninstallStep of
    // The Active Setup entry goes first, so that no logon starts the
    // program of a folder being removed; then the uninstall pass, before
    // any file goes, its exit code never a reason to keep a product nobody
    // can remove. A stale uninstaller leaves the entry, which is the
    // installed product's. Users' recent-projects files stay: they are the
    // users'.
    usUninstall:
      if not StaleUninstaller then begin
        if RegKeyExists(OwnRoot, ActiveSetupKey) and not RegDeleteKeyIncludingSubkeys(OwnRoot, ActiveSetupKey) then
          Log('The Active Setup entry could not be deleted');
        RunAction(UninstallFolder, '-uninstall 1');
      end;
    // Setup's own uninstaller has deleted its files and the entry by now.
    usPostUninstall:
      if StaleUninstaller then begin
        RestoreEntry;
        TidyTree(UninstallFolder, '', False);
        RemoveFolderNowOrAtRestart(ExtractFileDir(UninstallFolder));
      end else
        TidyProductFolder(ExtractFileDir(UninstallFolder), '');
  end;
end;
