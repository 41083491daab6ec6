#include "seeding/recent_projects_seeding.h"

#include "log/installer_log.h"
#include "platform/folders.h"
#include "platform/os_calls.h"
#include "platform/process_account.h"
#include "platform/whole_file.h"
#include "seeding/recent_projects_rewrite.h"
#include "platform/conversion.h"
#include "text/narrow_text.h"

#include <shlobj.h>

#include <string>

namespace {

constexpr wchar_t kFirstSample[] =
    L"\\My Quillora Projects\\Corvane Quillora\\Samples\\Quillora Reimagined\\Quillora_Reimagined.qlpj";
constexpr wchar_t kSecondSample[] = L"\\My Quillora Projects\\Corvane Quillora\\Samples\\Brew a Mocha\\Brew_a_Mocha.qlpj";
constexpr wchar_t kCompanyFolder[] = L"\\Corvane";
constexpr wchar_t kProductFolder[] = L"\\Corvane\\Quillora";
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

// The one temporary file a rewrite or a lay-down may leave if it is killed: a name of
// this program's own beside the file, which every run removes first.
constexpr wchar_t kTemporarySuffix[] = L".QLPostlude.tmp";

constexpr wchar_t kCouldNotRead[] = L"could not read the recent projects file";
constexpr wchar_t kNoMemory[] = L"not enough memory for the recent projects file";

void LeftAlone(InstallerLog& log, const wchar_t* why)
{
    log.Write(LogLevel::INFO, FormatRecord(L"QL Custom Action: %s, left as it was", why).c_str());
}

// Whether the file may be replaced at all. Run with an installer's rights,
// the rewrite must never write through a link planted in the user's folder,
// and a read-only file says its owner wants it kept.
bool MayReplace(InstallerLog& log, const FileFacts& facts)
{
    if (facts.IsReparsePoint()) {
        LeftAlone(log, L"the recent projects file is a link");
    } else if (facts.HasOtherNames()) {
        LeftAlone(log, L"the recent projects file has more than one name");
    } else if (facts.IsReadOnly()) {
        LeftAlone(log, L"the recent projects file is read-only");
    } else {
        return true;
    }
    return false;
}

// The file's whole content, or false after the record that says why not.
bool ReadRecentProjects(InstallerLog& log, const std::wstring& file, HeapBuffer& content, FileFacts& facts)
{
    UniqueHandle handle;
    switch (OpenForWholeRead(file, handle, facts)) {
    case OpenOutcome::Missing:
        return false;
    case OpenOutcome::Failed:
        LeftAlone(log, kCouldNotRead);
        return false;
    case OpenOutcome::Opened:
        break;
    }
    if (!MayReplace(log, facts)) {
        return false;
    }
    switch (ReadWholeFile(handle.Get(), facts.size, content)) {
    case ReadOutcome::Read:
        return true;
    case ReadOutcome::Failed:
        LeftAlone(log, kCouldNotRead);
        return false;
    case ReadOutcome::OutOfMemory:
        break;
    }
    LeftAlone(log, kNoMemory);
    return false;
}

void NothingLaidDown(InstallerLog& log, const wchar_t* why)
{
    log.Write(LogLevel::INFO, FormatRecord(L"QL Custom Action: %s, no recent projects file laid down", why).c_str());
}

// The template's whole content, or false after the record that says why not.
bool ReadTemplate(InstallerLog& log, const std::wstring& templatePath, HeapBuffer& content)
{
    if (!IsAbsolutePath(templatePath)) {
        NothingLaidDown(log, L"the recent projects template is not an absolute path");
        return false;
    }
    UniqueHandle handle;
    FileFacts facts;
    if (OpenForWholeRead(templatePath, handle, facts) != OpenOutcome::Opened ||
        ReadWholeFile(handle.Get(), facts.size, content) != ReadOutcome::Read) {
        NothingLaidDown(log, L"could not read the recent projects template");
        return false;
    }
    return true;
}

// Gives a user who has no recent-projects file a copy of the template. The
// copy appears whole or not at all, and never in place of a file the user
// made meanwhile.
void LayDownFromTemplate(InstallerLog& log, const std::wstring& appData, const std::wstring& templatePath,
                         const std::wstring& temporary)
{
    const std::wstring file = appData + kRecentProjectsFile;
    UniqueHandle existing;
    FileFacts facts;
    if (OpenForWholeRead(file, existing, facts) != OpenOutcome::Missing) {
        return;
    }
    HeapBuffer content;
    if (!ReadTemplate(log, templatePath, content)) {
        return;
    }
    if (!EnsureFolder(appData + kCompanyFolder) || !EnsureFolder(appData + kProductFolder)) {
        NothingLaidDown(log, L"could not create the recent projects file's folder");
        return;
    }
    switch (PlaceNewFile(file, temporary, std::string_view(content.Data(), content.Size()))) {
    case PlaceOutcome::Placed:
        log.Write(LogLevel::INFO, L"QL Custom Action: recent projects file laid down from the template");
        break;
    case PlaceOutcome::AlreadyThere:
        break;
    case PlaceOutcome::Failed:
        NothingLaidDown(log, L"could not write the recent projects file");
        break;
    }
}

// The rewrite works on bytes, which keeps any ASCII-compatible encoding; in
// UTF-16 it would find no token and break every line end it wrote back.
bool IsUtf16(std::string_view content)
{
    return content.size() >= 2 && ((content[0] == '\xFF' && content[1] == '\xFE') ||
                                   (content[0] == '\xFE' && content[1] == '\xFF'));
}

// Rewrites the file only once it was read completely: a missing file stays
// missing, and a file that can't be read or replaced stays as it was.
void RewriteFile(InstallerLog& log, const std::wstring& file, const std::string& firstPath,
                 const std::string& secondPath)
{
    HeapBuffer content;
    FileFacts facts;
    if (!ReadRecentProjects(log, file, content, facts)) {
        return;
    }
    const std::string_view old(content.Data(), content.Size());
    if (IsUtf16(old)) {
        LeftAlone(log, L"the recent projects file is UTF-16");
        return;
    }
    HeapBuffer rewritten;
    if (!rewritten.Allocate(RewrittenSize(old, firstPath, secondPath))) {
        LeftAlone(log, kNoMemory);
        return;
    }
    RewriteRecentProjectsInto(rewritten.Data(), old, firstPath, secondPath);
    content.Reset();
    const DWORD kept = facts.attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    const std::string_view bytes(rewritten.Data(), rewritten.Size());
    if (!ReplaceWholeFile(file, file + kTemporarySuffix, bytes, kept)) {
        LeftAlone(log, L"could not write the recent projects file");
    }
}

} // namespace

void UpdateAppDataFile(InstallerLog& log, const std::wstring& templatePath)
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
    } else if (firstPath.empty() || secondPath.empty()) {
        // The tokens would otherwise become nothing at all.
        log.Write(LogLevel::INFO,
                  L"QL Custom Action: recent projects file left alone, the sample paths could not be converted");
    } else {
        const std::wstring file = appData + kRecentProjectsFile;
        const std::wstring temporary = file + kTemporarySuffix;
        Os().deleteFile(temporary.c_str());
        if (!templatePath.empty()) {
            LayDownFromTemplate(log, appData, templatePath, temporary);
        }
        RewriteFile(log, file, firstPath, secondPath);
    }
    log.Write(LogLevel::INFO, L"QL Custom Action: UpdateAppDataFile ended");
}

void SeedUnlessLocalSystem(InstallerLog& log, const std::wstring& templatePath)
{
    if (QueryProcessAccount() == Account::LocalSystem) {
        log.Write(LogLevel::INFO, L"QL Custom Action: recent projects file left alone: this is the local system "
                                  L"account, whose profile is nobody's");
        return;
    }
    UpdateAppDataFile(log, templatePath);
}
