#include "seeding/recent_projects_seeding.h"

#include "log/installer_log.h"
#include "platform/folders.h"
#include "platform/whole_file.h"
#include "seeding/recent_projects_rewrite.h"
#include "text/conversion.h"
#include "text/narrow_text.h"

#include <shlobj.h>

#include <string>

namespace {

constexpr wchar_t kFirstSample[] =
    L"\\My Quillora Projects\\Corvane Quillora\\Samples\\Quillora Reimagined\\Quillora_Reimagined.qlpj";
constexpr wchar_t kSecondSample[] = L"\\My Quillora Projects\\Corvane Quillora\\Samples\\Brew a Mocha\\Brew_a_Mocha.qlpj";
constexpr wchar_t kRecentProjectsFile[] = L"\\Corvane\\Quillora\\recent_projects.json";

void WriteNarrow(InstallerLog& log, const std::string& text)
{
    log.Write(LogLevel::INFO, WidenBytes(text).c_str());
}

std::string SamplePathForFile(const std::wstring& documents, const wchar_t* relative)
{
    std::string path = ConvertToUtf8(documents + relative);
    ReplaceBackslashesWithSlashes(path);
    return path;
}

// Rewrites the file only once it was read completely: a missing file stays
// missing and a file that can't be read stays as it was.
void RewriteFile(InstallerLog& log, const std::wstring& file, const std::string& firstPath,
                 const std::string& secondPath)
{
    std::string content;
    switch (ReadWholeFile(file, content)) {
    case ReadOutcome::Missing:
        return;
    case ReadOutcome::Failed:
        log.Write(LogLevel::INFO, L"QL Custom Action: could not read the recent projects file, left as it was");
        return;
    case ReadOutcome::Read:
        break;
    }
    if (!ReplaceWholeFile(file, RewriteRecentProjects(content, firstPath, secondPath))) {
        log.Write(LogLevel::INFO, L"QL Custom Action: could not write the recent projects file, left as it was");
    }
}

} // namespace

void UpdateAppDataFile(InstallerLog& log)
{
    log.Write(LogLevel::INFO, L"QL Custom Action:  In UpdateAppDataFile function");
    std::wstring appData;
    const bool haveAppData = FetchSpecialFolder(CSIDL_APPDATA, appData);
    if (!haveAppData) {
        log.Write(LogLevel::INFO, L"QL Custom Action: Unable to Fetch user APP data folder");
    }
    std::wstring documents;
    const bool haveDocuments = FetchSpecialFolder(CSIDL_PERSONAL, documents);
    if (!haveDocuments) {
        log.Write(LogLevel::INFO, L"QL Custom Action: Unable to Fetch user documents folder");
    }

    const std::string firstPath = SamplePathForFile(documents, kFirstSample);
    const std::string secondPath = SamplePathForFile(documents, kSecondSample);
    WriteNarrow(log, ConvertToUtf8(appData));
    WriteNarrow(log, firstPath);
    WriteNarrow(log, secondPath);

    if (!haveAppData) {
        // The file's path would otherwise resolve against the current drive.
        log.Write(LogLevel::INFO, L"QL Custom Action: recent projects file left alone, no APP data folder");
    } else if (!haveDocuments) {
        // The tokens would otherwise become paths without their folder.
        log.Write(LogLevel::INFO, L"QL Custom Action: recent projects file left alone, no documents folder");
    } else {
        RewriteFile(log, appData + kRecentProjectsFile, firstPath, secondPath);
    }
    log.Write(LogLevel::INFO, L"QL Custom Action: UpdateAppDataFile ended");
}
