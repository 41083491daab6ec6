#pragma once

#include "registration/install_dir.h"

class InstallerLog;

// Each pass returns how many of its DLLs it did not register or unregister:
// the tool could not be started, ended with a code other than 0, was ended at
// its time limit or its exit code could not be read, or no command ran for
// the DLL because its folder or command line was refused. The log says which.

// Registers the components that live in the 32-bit system folder.
unsigned RegisterDlls(InstallerLog& log);
// Registers the components under the installation directory.
unsigned installDirRegisterDlls(InstallerLog& log, const InstallDir& installDir);
// Unregisters the components under the installation directory.
unsigned UnRegisterDlls(InstallerLog& log, const InstallDir& installDir);
