#pragma once

class InstallerLog;

// Says in the log whether this process holds administrator rights, and
// warns when it doesn't: registering a component for the whole machine
// writes where only an administrator may, and the registration tool then
// fails with nothing but an exit code. An installer that runs this program
// without elevation is the usual cause.
void LogAdministratorRights(InstallerLog& log);
