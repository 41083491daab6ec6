#pragma once

class InstallerLog;

// Writes the two sample-project paths under the user's Documents folder
// into the user's recent-projects file in place of its tokens.
void UpdateAppDataFile(InstallerLog& log);
