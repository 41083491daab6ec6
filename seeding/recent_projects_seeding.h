#pragma once

#include <string>

class InstallerLog;

// Writes the two sample-project paths under the user's Documents folder
// into the user's recent-projects file in place of its tokens. Given a
// template (the product's recent_projects.json, an absolute path), a user
// who has no file first gets a copy of it; a file the user has is never
// replaced by it.
void UpdateAppDataFile(InstallerLog& log, const std::wstring& templatePath = std::wstring());

// The user's part of a post-install pass: the seeding above, except in a
// process of the local system account, whose profile is nobody's.
void SeedUnlessLocalSystem(InstallerLog& log, const std::wstring& templatePath);
