#pragma once

// One whole run of the installer action for the command line that follows
// the program's name. Returns 0 when a logged run took place, -1 otherwise;
// with -failOnError, 1603 for a logged post-install pass in which a
// registration did not succeed.
int RunInstallerAction(const wchar_t* commandLine);
