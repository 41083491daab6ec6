#include "seeding/recent_projects_seeding.h"

#include "platform/os_calls.h"
#include "support/log_capture.h"
#include "platform/conversion.h"

#include <shlobj.h>

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

using Messages = std::vector<std::wstring>;

const wchar_t kFirstRelative[] =
    L"/My Quillora Projects/Corvane Quillora/Samples/Quillora Reimagined/Quillora_Reimagined.qlpj";
const wchar_t kSecondRelative[] = L"/My Quillora Projects/Corvane Quillora/Samples/Brew a Mocha/Brew_a_Mocha.qlpj";

class SeedingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        appData_ = SpecialFolder(CSIDL_APPDATA);
        documents_ = SpecialFolder(CSIDL_PERSONAL);
        folder_ = appData_ + L"\\Corvane\\Quillora";
        RemoveTree(appData_ + L"\\Corvane");
        CreateFolders(folder_);
        file_ = folder_ + L"\\recent_projects.json";
    }
    void TearDown() override { RemoveTree(appData_ + L"\\Corvane"); }

    std::string FirstPath() const { return ConvertToUtf8(Slashed(documents_) + kFirstRelative); }
    std::string SecondPath() const { return ConvertToUtf8(Slashed(documents_) + kSecondRelative); }

    Messages Records(const Messages& middle = {}) const
    {
        Messages records = {L"QL Custom Action:  In UpdateAppDataFile function", appData_,
                            Slashed(documents_) + kFirstRelative, Slashed(documents_) + kSecondRelative};
        records.insert(records.end(), middle.begin(), middle.end());
        records.emplace_back(L"QL Custom Action: UpdateAppDataFile ended");
        return records;
    }

    // One run, with `inject` failing platform calls after the log is open.
    Messages Run(void (*inject)(OsCalls&) = nullptr) { return RunWithTemplate(std::wstring(), inject); }
    Messages RunWithTemplate(const std::wstring& templatePath, void (*inject)(OsCalls&) = nullptr)
    {
        LogCapture capture(L"seeding");
        {
            ScopedOsOverride os;
            if (inject != nullptr) {
                inject(Os());
            }
            UpdateAppDataFile(capture.Log(), templatePath);
        }
        return capture.Messages();
    }

    std::wstring appData_;
    std::wstring documents_;
    std::wstring folder_;
    std::wstring file_;
};

TEST_F(SeedingTest, ReplacesTokensWithSamplePathsAndLogsThem)
{
    WriteBytes(file_, "{\"recent\": [\n  \"QLPJ1\",\n  \"QLPJ2\"\n]}");
    EXPECT_EQ(Run(), Records());
    EXPECT_EQ(ReadBytes(file_),
              "{\"recent\": [\r\n  \"" + FirstPath() + "\",\r\n  \"" + SecondPath() + "\"\r\n]}\r\n");
    EXPECT_EQ(FolderEntries(folder_), std::vector<std::wstring>{L"recent_projects.json"});
}

TEST_F(SeedingTest, MissingFileStaysMissing)
{
    EXPECT_EQ(Run(), Records());
    EXPECT_FALSE(FileExists(file_));
    RemoveTree(appData_ + L"\\Corvane");
    EXPECT_EQ(Run(), Records());
    EXPECT_FALSE(FileExists(appData_ + L"\\Corvane"));
}

TEST_F(SeedingTest, Utf16FileIsLeftByteForByte)
{
    for (const std::string& mark : {std::string("\xFF\xFE"), std::string("\xFE\xFF")}) {
        const std::string original = mark + std::string("Q\0L\0P\0J\0" "1\0\r\0\n\0]\0\n\0", 18);
        WriteBytes(file_, original);
        EXPECT_EQ(Run(), Records({L"QL Custom Action: the recent projects file is UTF-16, left as it was"}));
        EXPECT_EQ(ReadBytes(file_), original);
        EXPECT_EQ(FolderEntries(folder_), std::vector<std::wstring>{L"recent_projects.json"});
    }
}

TEST_F(SeedingTest, EmptyFileStaysEmpty)
{
    WriteBytes(file_, "");
    EXPECT_EQ(Run(), Records());
    EXPECT_EQ(ReadBytes(file_), "");
    EXPECT_TRUE(FileExists(file_));
}

std::wstring g_documents;
BOOL WINAPI FakeDocuments(HWND owner, LPWSTR buffer, int csidl, BOOL create)
{
    if (csidl != CSIDL_PERSONAL) {
        return SHGetSpecialFolderPathW(owner, buffer, csidl, create);
    }
    wcscpy(buffer, g_documents.c_str());
    return TRUE;
}

TEST_F(SeedingTest, PathOutsideAsciiIsInsertedAsUtf8)
{
    g_documents = L"C:\\users\\J\x00F6rg\\Documents\\";
    WriteBytes(file_, "QLPJ1");
    Messages messages;
    {
        ScopedOsOverride os;
        os->getSpecialFolderPath = FakeDocuments;
        messages = Run();
    }
    const std::string first = "C:/users/J\xC3\xB6rg/Documents/My Quillora Projects/Corvane Quillora/Samples/"
                              "Quillora Reimagined/Quillora_Reimagined.qlpj";
    EXPECT_EQ(ReadBytes(file_), first + "\r\n");
    ASSERT_EQ(messages.size(), 5u);
    EXPECT_EQ(messages[2].substr(0, 15), L"C:/users/J\x00C3\x00B6rg/");
}

BOOL WINAPI FailAppData(HWND owner, LPWSTR buffer, int csidl, BOOL create)
{
    return csidl == CSIDL_APPDATA ? FALSE : SHGetSpecialFolderPathW(owner, buffer, csidl, create);
}
BOOL WINAPI FailDocuments(HWND owner, LPWSTR buffer, int csidl, BOOL create)
{
    return csidl == CSIDL_PERSONAL ? FALSE : SHGetSpecialFolderPathW(owner, buffer, csidl, create);
}
BOOL WINAPI FailRead(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED)
{
    SetLastError(ERROR_READ_FAULT);
    return FALSE;
}
// Fails the writes of the recent-projects file's new content only: the log,
// written through the same call, keeps the records that say what happened.
BOOL WINAPI FailWrite(HANDLE file, LPCVOID bytes, DWORD size, LPDWORD written, LPOVERLAPPED overlapped)
{
    wchar_t path[1024] = {};
    const std::wstring_view suffix = L".QLPostlude.tmp";
    const DWORD length = GetFinalPathNameByHandleW(file, path, 1024, 0);
    const std::wstring_view name(path, length < 1024 ? length : 0);
    if (name.size() < suffix.size() || name.substr(name.size() - suffix.size()) != suffix) {
        return WriteFile(file, bytes, size, written, overlapped);
    }
    SetLastError(ERROR_DISK_FULL);
    return FALSE;
}

TEST_F(SeedingTest, UnfetchableFoldersLeaveTheFileAlone)
{
    const std::string original = "QLPJ1\nQLPJ2\n";
    WriteBytes(file_, original);
    Messages noAppData;
    Messages noDocuments;
    {
        ScopedOsOverride os;
        os->getSpecialFolderPath = FailAppData;
        noAppData = Run();
        os->getSpecialFolderPath = FailDocuments;
        noDocuments = Run();
    }
    EXPECT_EQ(ReadBytes(file_), original);
    EXPECT_EQ(noAppData, (Messages{L"QL Custom Action:  In UpdateAppDataFile function",
                                   L"QL Custom Action: Unable to Fetch user APP data folder", L"",
                                   Slashed(documents_) + kFirstRelative, Slashed(documents_) + kSecondRelative,
                                   L"QL Custom Action: recent projects file left alone, no APP data folder",
                                   L"QL Custom Action: UpdateAppDataFile ended"}));
    EXPECT_EQ(noDocuments, (Messages{L"QL Custom Action:  In UpdateAppDataFile function",
                                     L"QL Custom Action: Unable to Fetch user documents folder", appData_,
                                     kFirstRelative, kSecondRelative,
                                     L"QL Custom Action: recent projects file left alone, no documents folder",
                                     L"QL Custom Action: UpdateAppDataFile ended"}));
}

TEST_F(SeedingTest, ReadOrWriteFailureLeavesTheFileAsItWas)
{
    const std::string original = "QLPJ1\nQLPJ2\n";
    WriteBytes(file_, original);
    Messages readFailed;
    Messages writeFailed;
    {
        ScopedOsOverride os;
        os->readFile = FailRead;
        readFailed = Run();
    }
    {
        ScopedOsOverride os;
        os->writeFile = FailWrite;
        writeFailed = Run();
    }
    EXPECT_EQ(ReadBytes(file_), original);
    EXPECT_EQ(FolderEntries(folder_), std::vector<std::wstring>{L"recent_projects.json"});
    EXPECT_EQ(readFailed, Records({L"QL Custom Action: could not read the recent projects file, left as it was"}));
    EXPECT_EQ(writeFailed, Records({L"QL Custom Action: could not write the recent projects file, left as it was"}));
}

// The replace path, failed one call at a time: the file keeps its old bytes,
// nothing is left beside it, and the record says so.
std::wstring g_temporary;
HANDLE WINAPI FailCreatingTheTemporaryFile(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                           DWORD disposition, DWORD flags, HANDLE model)
{
    if (g_temporary == path) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    return CreateFileW(path, access, share, security, disposition, flags, model);
}
BOOL WINAPI FailFlush(HANDLE)
{
    SetLastError(ERROR_DISK_FULL);
    return FALSE;
}
BOOL WINAPI FailRename(LPCWSTR, LPCWSTR, DWORD)
{
    SetLastError(ERROR_UNABLE_TO_MOVE_REPLACEMENT);
    return FALSE;
}
BOOL WINAPI FailDelete(LPCWSTR)
{
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

TEST_F(SeedingTest, EveryFailureOnTheReplacePathLeavesTheOriginalAndNoTemporaryFile)
{
    const std::string original = "QLPJ1\nQLPJ2\n";
    g_temporary = file_ + L".QLPostlude.tmp";
    const std::pair<const char*, void (*)(OsCalls&)> failures[] = {
        {"temporary file", [](OsCalls& os) { os.createFile = FailCreatingTheTemporaryFile; }},
        {"write", [](OsCalls& os) { os.writeFile = FailWrite; }},
        {"flush", [](OsCalls& os) { os.flushFileBuffers = FailFlush; }},
        {"rename", [](OsCalls& os) { os.moveFileEx = FailRename; }},
    };
    for (const auto& [name, inject] : failures) {
        WriteBytes(file_, original);
        const Messages messages = Run(inject);
        EXPECT_EQ(ReadBytes(file_), original) << name;
        EXPECT_EQ(FolderEntries(folder_), std::vector<std::wstring>{L"recent_projects.json"}) << name;
        EXPECT_EQ(messages, Records({L"QL Custom Action: could not write the recent projects file, left as it was"}))
            << name;
    }
}

// What a crash at any instant would find: up to the one rename the file
// holds its old bytes, and what is renamed over it is the complete new file.
std::wstring g_file;
std::string g_atRename;
std::string g_renamedIn;
BOOL WINAPI ObserveRename(LPCWSTR from, LPCWSTR to, DWORD flags)
{
    g_atRename = ReadBytes(g_file);
    g_renamedIn = ReadBytes(from);
    return MoveFileExW(from, to, flags);
}

TEST_F(SeedingTest, TheFileIsSwappedInWholeByOneRename)
{
    const std::string original = "QLPJ1\nQLPJ2\n";
    WriteBytes(file_, original);
    g_file = file_;
    Run([](OsCalls& os) { os.moveFileEx = ObserveRename; });
    EXPECT_EQ(g_atRename, original);
    EXPECT_EQ(g_renamedIn, FirstPath() + "\r\n" + SecondPath() + "\r\n");
    EXPECT_EQ(ReadBytes(file_), g_renamedIn);
}

TEST_F(SeedingTest, LeftoverTemporaryFileIsRemovedByTheNextRun)
{
    WriteBytes(file_, "QLPJ1\n");
    // A rename that fails and a temporary file that can't be removed.
    Run([](OsCalls& os) {
        os.moveFileEx = FailRename;
        os.deleteFile = FailDelete;
    });
    EXPECT_EQ(ReadBytes(file_), "QLPJ1\n");
    EXPECT_TRUE(FileExists(file_ + L".QLPostlude.tmp"));
    EXPECT_EQ(Run(), Records());
    EXPECT_EQ(ReadBytes(file_), FirstPath() + "\r\n");
    EXPECT_EQ(FolderEntries(folder_), std::vector<std::wstring>{L"recent_projects.json"});
}

TEST_F(SeedingTest, HiddenFileStaysHiddenAndReadOnlyFileIsLeftAlone)
{
    WriteBytes(file_, "QLPJ1\n");
    SetFileAttributesW(file_.c_str(), FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(Run(), Records());
    EXPECT_EQ(ReadBytes(file_), FirstPath() + "\r\n");
    EXPECT_EQ(GetFileAttributesW(file_.c_str()) & FILE_ATTRIBUTE_HIDDEN, DWORD{FILE_ATTRIBUTE_HIDDEN});

    SetFileAttributesW(file_.c_str(), FILE_ATTRIBUTE_NORMAL);
    WriteBytes(file_, "QLPJ2\n");
    SetFileAttributesW(file_.c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(Run(), Records({L"QL Custom Action: the recent projects file is read-only, left as it was"}));
    SetFileAttributesW(file_.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(ReadBytes(file_), "QLPJ2\n");
}

// Links: a second name of the file for real, a reparse point through the
// seam (Wine creates none).
BOOL WINAPI ReportReparsePoint(HANDLE file, LPBY_HANDLE_FILE_INFORMATION information)
{
    const BOOL result = GetFileInformationByHandle(file, information);
    information->dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    return result;
}

TEST_F(SeedingTest, FileWithAnotherNameOrThatIsALinkIsLeftAlone)
{
    const std::string original = "QLPJ1\n";
    WriteBytes(file_, original);
    const std::wstring otherName = appData_ + L"\\Corvane\\elsewhere.json";
    ASSERT_TRUE(CreateHardLinkW(otherName.c_str(), file_.c_str(), nullptr));
    EXPECT_EQ(Run(), Records({L"QL Custom Action: the recent projects file has more than one name, left as it was"}));
    EXPECT_EQ(ReadBytes(otherName), original);
    DeleteFileW(otherName.c_str());

    EXPECT_EQ(Run([](OsCalls& os) { os.getFileInformationByHandle = ReportReparsePoint; }),
              Records({L"QL Custom Action: the recent projects file is a link, left as it was"}));
    EXPECT_EQ(ReadBytes(file_), original);
}

LPVOID WINAPI NoMemory(HANDLE, DWORD, SIZE_T)
{
    return nullptr;
}

TEST_F(SeedingTest, ExhaustedMemoryLeavesTheFileAsItWas)
{
    const std::string original = "QLPJ1\n";
    WriteBytes(file_, original);
    EXPECT_EQ(Run([](OsCalls& os) { os.heapAlloc = NoMemory; }),
              Records({L"QL Custom Action: not enough memory for the recent projects file, left as it was"}));
    EXPECT_EQ(ReadBytes(file_), original);
}

// The product's template, for a user who has no file: laid down whole and
// filled in, never over a file the user has or makes meanwhile.
std::wstring g_usersOwnFile;
BOOL WINAPI UserSavesFirst(LPCWSTR from, LPCWSTR to, DWORD flags)
{
    WriteBytes(g_usersOwnFile, "mine QLPJ2\n");
    return MoveFileExW(from, to, flags);
}

TEST_F(SeedingTest, TemplateGivesAUserWithoutAFileOneAndNeverReplacesTheirs)
{
    const std::wstring productTemplate = MakeScratchFolder(L"seeding-template") + L"\\recent_projects.json";
    WriteBytes(productTemplate, "[\n  \"QLPJ1\",\n  \"QLPJ2\"\n]\n");
    const std::string seeded = "[\r\n  \"" + FirstPath() + "\",\r\n  \"" + SecondPath() + "\"\r\n]\r\n";
    const Messages laidDown = Records({L"QL Custom Action: recent projects file laid down from the template"});

    RemoveTree(appData_ + L"\\Corvane");
    EXPECT_EQ(RunWithTemplate(productTemplate), laidDown);
    EXPECT_EQ(ReadBytes(file_), seeded);
    EXPECT_EQ(FolderEntries(folder_), std::vector<std::wstring>{L"recent_projects.json"});

    WriteBytes(file_, "mine QLPJ1\n");
    EXPECT_EQ(RunWithTemplate(productTemplate), Records());
    EXPECT_EQ(ReadBytes(file_), "mine " + FirstPath() + "\r\n");

    DeleteFileW(file_.c_str());
    g_usersOwnFile = file_;
    EXPECT_EQ(RunWithTemplate(productTemplate, [](OsCalls& os) { os.moveFileEx = UserSavesFirst; }), Records());
    EXPECT_EQ(ReadBytes(file_), "mine " + SecondPath() + "\r\n");
    EXPECT_EQ(FolderEntries(folder_), std::vector<std::wstring>{L"recent_projects.json"});

    DeleteFileW(file_.c_str());
    g_temporary = file_ + L".QLPostlude.tmp";
    const std::pair<std::wstring, Messages> failures[] = {
        {L"recent_projects.json",
         Records({L"QL Custom Action: the recent projects template is not an absolute path, no recent projects file "
                  L"laid down"})},
        {productTemplate + L".missing",
         Records({L"QL Custom Action: could not read the recent projects template, no recent projects file laid "
                  L"down"})},
    };
    for (const auto& [given, records] : failures) {
        EXPECT_EQ(RunWithTemplate(given), records);
    }
    EXPECT_EQ(RunWithTemplate(productTemplate, [](OsCalls& os) { os.createFile = FailCreatingTheTemporaryFile; }),
              Records({L"QL Custom Action: could not write the recent projects file, no recent projects file laid "
                       L"down"}));
    EXPECT_EQ(FolderEntries(folder_), std::vector<std::wstring>{});
}

// Wine gives no process the local system account's token, so the seam does.
BOOL WINAPI TokenOfLocalSystem(HANDLE, TOKEN_INFORMATION_CLASS information, LPVOID buffer, DWORD size, PDWORD used)
{
    if (information != TokenUser || size < sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    auto* const user = static_cast<TOKEN_USER*>(buffer);
    user->User.Sid = user + 1;
    user->User.Attributes = 0;
    DWORD sidSize = SECURITY_MAX_SID_SIZE;
    *used = sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE;
    return CreateWellKnownSid(WinLocalSystemSid, nullptr, user->User.Sid, &sidSize);
}

TEST_F(SeedingTest, TheUsersPartAsTheLocalSystemAccountSeedsNobody)
{
    WriteBytes(file_, "QLPJ1\n");
    LogCapture capture(L"seeding");
    {
        ScopedOsOverride os;
        os->getTokenInformation = TokenOfLocalSystem;
        SeedUnlessLocalSystem(capture.Log(), std::wstring());
    }
    EXPECT_EQ(capture.Messages(), Messages{L"QL Custom Action: recent projects file left alone: this is the local "
                                           L"system account, whose profile is nobody's"});
    EXPECT_EQ(ReadBytes(file_), "QLPJ1\n");
}

} // namespace
