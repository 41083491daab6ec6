#pragma once

class InstallerLog;

// Registers the components that live in the 32-bit system folder.
void RegisterDlls(InstallerLog& log);
// Registers the components under the installation directory.
void installDirRegisterDlls(InstallerLog& log, const wchar_t* installDir);
// Unregisters the component under the installation directory.
void UnRegisterDlls(InstallerLog& log, const wchar_t* installDir);
