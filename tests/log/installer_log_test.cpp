#include "log/installer_log.h"

#include "platform/os_calls.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

const std::string kBom = "\xFF\xFE";

class InstallerLogTest : public ::testing::Test {
protected:
    void SetUp() override { path_ = MakeScratchFolder(L"installer-log") + L"\\log.txt"; }
    std::wstring Content() const { return MaskTimestamps(DecodeUtf16(ReadBytes(path_))); }
    std::wstring path_;
};

// An XML record with its time fields masked, for comparison.
std::wstring MaskXml(std::wstring text)
{
    for (std::size_t at = text.find(L"ID=\""); at != std::wstring::npos; at = text.find(L"ID=\"", at + 1)) {
        text.replace(at + 4, 10, L"##########");
    }
    for (const wchar_t* field : {L"Date=\"", L"Time=\""}) {
        const std::size_t length = std::wcslen(field);
        for (std::size_t at = text.find(field); at != std::wstring::npos; at = text.find(field, at + 1)) {
            const std::size_t end = text.find(L'"', at + length);
            text.replace(at + length, end - at - length, L"#");
        }
    }
    return text;
}

std::wstring XmlUnit(int number, const wchar_t* level, const std::wstring& message)
{
    wchar_t id[16] = {};
    swprintf(id, 16, L"%010d", number);
    return std::wstring(L"\t<LogUnit ID=\"##########") + id + L"\" Type=\"" + level +
           L"\" Date=\"#\" Time=\"#\" Sender=\"\">\r\n\t\t<message>" + message + L"</message>\r\n\t</LogUnit>\r\n";
}

const std::wstring kXmlStart =
    L"\xFEFF<?xml version=\"1.0\" encoding=\"UTF-16\" standalone=\"no\" ?>\r\n<LogManifest>\r\n";

TEST_F(InstallerLogTest, NewTextFileStartsWithByteOrderMarkThenRecords)
{
    InstallerLog log;
    ASSERT_TRUE(log.Open(0, LogFormat::Text, path_));
    log.Write(LogLevel::INFO, L"Start Postlude.");
    log.Write(LogLevel::ERROR, L"a %s %n %d < &");
    log.Close();
    EXPECT_EQ(ReadBytes(path_).substr(0, 2), kBom);
    EXPECT_EQ(Content(), L"\xFEFF" + InfoLine(L"Start Postlude.") + ErrorLine(L"a %s %n %d < &"));
}

TEST_F(InstallerLogTest, ExistingTextFileIsContinuedWithoutSecondMark)
{
    WriteBytes(path_, kBom + EncodeUtf16(L"old line\r\n"));
    InstallerLog log;
    ASSERT_TRUE(log.Open(0, LogFormat::Text, path_));
    log.Write(LogLevel::INFO, L"new");
    log.Close();
    EXPECT_EQ(Content(), L"\xFEFFold line\r\n" + InfoLine(L"new"));
}

TEST_F(InstallerLogTest, EmptyExistingFileGetsNoMarkNorHeader)
{
    WriteBytes(path_, "");
    for (const LogFormat format : {LogFormat::Text, LogFormat::Xml}) {
        WriteBytes(path_, "");
        InstallerLog log;
        ASSERT_TRUE(log.Open(0, format, path_));
        log.Close();
        EXPECT_EQ(MaskXml(DecodeUtf16(ReadBytes(path_))), format == LogFormat::Xml ? L"</LogManifest>" : L"");
    }
}

TEST_F(InstallerLogTest, LevelsAboveTheMaximumAreDroppedAndTakeNoNumber)
{
    InstallerLog log;
    log.SetMaxLevel(4);
    ASSERT_TRUE(log.Open(0, LogFormat::Xml, path_));
    log.Write(static_cast<LogLevel>(5), L"dropped");
    log.Write(static_cast<LogLevel>(-1), L"negative");
    log.Write(LogLevel::CRITICALERROR, L"critical");
    EXPECT_EQ(log.RecordCount(), 2);
    log.Close();
    EXPECT_EQ(MaskXml(DecodeUtf16(ReadBytes(path_))),
              kXmlStart + XmlUnit(1, L" INFO          ", L"negative") +
                  XmlUnit(2, L" CRITICALERROR ", L"critical") + L"</LogManifest>");
}

TEST_F(InstallerLogTest, ClosedXmlFileIsContinuedAsOneManifest)
{
    for (const wchar_t* message : {L"first run", L"second run"}) {
        InstallerLog log;
        ASSERT_TRUE(log.Open(0, LogFormat::Xml, path_));
        log.Write(LogLevel::INFO, message);
        log.Close();
    }
    EXPECT_EQ(MaskXml(DecodeUtf16(ReadBytes(path_))),
              kXmlStart + XmlUnit(1, L" INFO          ", L"first run") +
                  XmlUnit(1, L" INFO          ", L"second run") + L"</LogManifest>");
}

TEST_F(InstallerLogTest, UnclosedXmlFileIsContinuedAtItsEnd)
{
    const std::wstring unclosed = kXmlStart + XmlUnit(1, L" INFO          ", L"killed run");
    WriteBytes(path_, EncodeUtf16(unclosed));
    InstallerLog log;
    ASSERT_TRUE(log.Open(0, LogFormat::Xml, path_));
    log.Write(LogLevel::INFO, L"next");
    log.Close();
    EXPECT_EQ(MaskXml(DecodeUtf16(ReadBytes(path_))),
              unclosed + XmlUnit(1, L" INFO          ", L"next") + L"</LogManifest>");
}

TEST_F(InstallerLogTest, LongerOldLastLineIsCutOffWhenContinued)
{
    const std::wstring head = kXmlStart + XmlUnit(1, L" INFO          ", L"a");
    WriteBytes(path_, EncodeUtf16(head + L"\t<LogUnit ID=\"half a record that was cut short by a killed run"));
    InstallerLog log;
    ASSERT_TRUE(log.Open(0, LogFormat::Xml, path_));
    log.Close();
    EXPECT_EQ(MaskXml(DecodeUtf16(ReadBytes(path_))), head + L"</LogManifest>");
}

TEST_F(InstallerLogTest, EachRecordIsOnDiskBeforeWriteReturns)
{
    InstallerLog log;
    ASSERT_TRUE(log.Open(0, LogFormat::Text, path_));
    log.Write(LogLevel::INFO, L"0123456789");
    WIN32_FILE_ATTRIBUTE_DATA data{};
    ASSERT_TRUE(GetFileAttributesExW(path_.c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(data.nFileSizeLow, 2u + 2u * (39u + 10u + 2u));
    log.Close();
}

TEST_F(InstallerLogTest, FileIsHeldExclusivelyAndNotInheritedByChildren)
{
    InstallerLog log;
    ASSERT_TRUE(log.Open(0, LogFormat::Text, path_));
    UniqueHandle other(CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, 0, nullptr));
    EXPECT_FALSE(other.IsValid());

    // A child that inherits every inheritable handle and outlives the log.
    const ProcessResult child =
        RunProcess(L"\"" + TestBinaryFolder() + L"\\fake_tool.exe\" linger 3000", {}, 10000, true);
    ASSERT_TRUE(child.started);
    log.Close();
    UniqueHandle reopened(CreateFileW(path_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_TRUE(reopened.IsValid());
}

TEST_F(InstallerLogTest, FileHeldByAnotherFailsTheOpen)
{
    UniqueHandle holder(CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(holder.IsValid());
    InstallerLog log;
    EXPECT_FALSE(log.Open(0, LogFormat::Text, path_));
    EXPECT_EQ(log.OpenStatus(), -1);
    log.Close();
    EXPECT_FALSE(log.Open(0, LogFormat::Text, L""));
    EXPECT_EQ(log.OpenStatus(), -1);
}

std::wstring g_sinkLines;
void Sink(const wchar_t* line)
{
    g_sinkLines += line;
}

TEST_F(InstallerLogTest, LineSinkGetsEachRecordAsATabSeparatedLine)
{
    g_sinkLines.clear();
    InstallerLog log;
    log.SetLineSink(Sink);
    ASSERT_TRUE(log.Open(0, LogFormat::Text, path_));
    log.Write(LogLevel::WARNING, L"w");
    log.Close();
    ASSERT_EQ(g_sinkLines.size(), 20u + 1 + 15 + 1 + 8 + 1 + 12 + 1 + 0 + 1 + 1 + 2);
    EXPECT_EQ(g_sinkLines.substr(10, 10), L"0000000001");
    EXPECT_EQ(g_sinkLines.substr(20, 17), L"\t WARNING       \t");
    EXPECT_EQ(g_sinkLines.substr(g_sinkLines.size() - 5), L"\t\tw\r\n");
}

TEST_F(InstallerLogTest, OpenInTempFolderWritesTextIntoTheTemporaryFolder)
{
    const std::wstring tempFolder = MakeScratchFolder(L"installer-log-temp");
    ScopedOsOverride os;
    RedirectTempFolder(Os(), tempFolder);
    InstallerLog log;
    ASSERT_TRUE(log.OpenInTempFolder(L"QLPostlude.log"));
    EXPECT_EQ(log.FilePath(), tempFolder + L"\\QLPostlude.log");
    log.Write(LogLevel::CRITICALERROR, L"all levels");
    log.Close();
    EXPECT_EQ(LogMessages(tempFolder + L"\\QLPostlude.log"), std::vector<std::wstring>{L"all levels"});
}

DWORD WINAPI FailTempPath(DWORD, LPWSTR)
{
    return 0;
}

TEST_F(InstallerLogTest, UnknownTemporaryFolderFailsTheOpen)
{
    ScopedOsOverride os;
    os->getTempPath = FailTempPath;
    os->getTempPath2 = nullptr;
    InstallerLog log;
    EXPECT_FALSE(log.OpenInTempFolder(L"QLPostlude.log"));
    EXPECT_EQ(log.OpenStatus(), -1);
    EXPECT_EQ(log.FilePath(), L"");
    log.Close();
}

// As GetTempPath2W answers a process of the local system account.
std::wstring g_systemTemp;
DWORD WINAPI SystemTempPath(DWORD, LPWSTR buffer)
{
    wcscpy(buffer, (g_systemTemp + L"\\").c_str());
    return static_cast<DWORD>(g_systemTemp.size() + 1);
}

// Run as the local system account, the log must not go where any user may
// plant a file of its name: GetTempPath2W's folder where the system has the
// call (Wine 8 has not), GetTempPathW's only where it hasn't.
TEST_F(InstallerLogTest, LogGoesToTheFolderOfGetTempPath2WhereTheSystemHasIt)
{
    const std::wstring shared = MakeScratchFolder(L"WindowsTemp");
    g_systemTemp = MakeScratchFolder(L"SystemTemp");
    ScopedOsOverride os;
    RedirectTempFolder(Os(), shared);
    for (const bool hasGetTempPath2 : {true, false}) {
        os->getTempPath2 = hasGetTempPath2 ? SystemTempPath : nullptr;
        InstallerLog log;
        ASSERT_TRUE(log.OpenInTempFolder(L"QLPostlude.log"));
        EXPECT_EQ(log.FilePath(), (hasGetTempPath2 ? g_systemTemp : shared) + L"\\QLPostlude.log");
        log.Close();
    }
}

// The lookup itself, by its name, in a module that exports the call (Wine 8's
// kernel32 does not) and in one that doesn't.
TEST(GetTempPath2Lookup, FindsTheCallByItsNameWhereAModuleExportsIt)
{
    const HMODULE fixture = LoadLibraryW((TestBinaryFolder() + L"\\temp_path2.dll").c_str());
    ASSERT_NE(fixture, nullptr) << GetLastError();
    const TempPathCall found = FindGetTempPath2In(fixture);
    ASSERT_NE(found, nullptr);
    wchar_t folder[MAX_PATH] = {};
    EXPECT_EQ(found(MAX_PATH, folder), 23u);
    EXPECT_STREQ(folder, L"C:\\QLFixtureSystemTemp\\");
    EXPECT_EQ(FindGetTempPath2In(GetModuleHandleW(L"ntdll.dll")), nullptr);
    FreeLibrary(fixture);
}

BOOL WINAPI FailSeek(HANDLE, LARGE_INTEGER, PLARGE_INTEGER, DWORD)
{
    SetLastError(ERROR_SEEK);
    return FALSE;
}

TEST_F(InstallerLogTest, OpenThatFailsAfterTheFileWasOpenedLeavesNothingToWriteOrClose)
{
    for (const LogFormat format : {LogFormat::Xml, LogFormat::Text}) {
        {
            InstallerLog earlier;
            ASSERT_TRUE(earlier.Open(0, format, path_));
            earlier.Write(LogLevel::INFO, L"earlier run");
        }
        const std::string before = ReadBytes(path_);
        InstallerLog log;
        {
            ScopedOsOverride os;
            os->setFilePointerEx = FailSeek;
            EXPECT_FALSE(log.Open(0, format, path_));
        }
        log.Write(LogLevel::INFO, L"written into a log that failed to open");
        log.Close();
        EXPECT_EQ(ReadBytes(path_), before);
        DeleteFileW(path_.c_str());
    }
}

BOOL WINAPI FailWrite(HANDLE, LPCVOID, DWORD, LPDWORD written, LPOVERLAPPED)
{
    *written = 0;
    SetLastError(ERROR_DISK_FULL);
    return FALSE;
}

// Left behind, an empty new file would be continued without a mark by every
// later run; it goes, and the next run starts the log properly.
TEST_F(InstallerLogTest, NewFileWhoseStartCantBeWrittenIsRemovedAndTheNextRunStartsIt)
{
    for (const LogFormat format : {LogFormat::Text, LogFormat::Xml}) {
        {
            InstallerLog log;
            ScopedOsOverride os;
            os->writeFile = FailWrite;
            EXPECT_TRUE(log.Open(0, format, path_));
            log.Write(LogLevel::INFO, L"lost");
            log.Close();
        }
        EXPECT_EQ(GetFileAttributesW(path_.c_str()), INVALID_FILE_ATTRIBUTES);
        InstallerLog next;
        ASSERT_TRUE(next.Open(0, format, path_));
        next.Write(LogLevel::INFO, L"next run");
        next.Close();
        if (format == LogFormat::Text) {
            EXPECT_EQ(Content(), L"\xFEFF" + InfoLine(L"next run"));
        } else {
            EXPECT_EQ(MaskXml(DecodeUtf16(ReadBytes(path_))),
                      kXmlStart + XmlUnit(1, L" INFO          ", L"next run") + L"</LogManifest>");
        }
        DeleteFileW(path_.c_str());
    }
}

BOOL WINAPI ReportReparsePoint(HANDLE file, LPBY_HANDLE_FILE_INFORMATION information)
{
    const BOOL result = GetFileInformationByHandle(file, information);
    information->dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    return result;
}

// A hard link for real; a reparse point through the seam, since Wine
// creates none.
TEST_F(InstallerLogTest, LogThatIsALinkIsRefused)
{
    const std::wstring target = path_ + L".target";
    WriteBytes(target, "kept");
    ASSERT_TRUE(CreateHardLinkW(path_.c_str(), target.c_str(), nullptr));
    InstallerLog log;
    EXPECT_FALSE(log.Open(0, LogFormat::Text, path_));
    log.Close();
    EXPECT_EQ(ReadBytes(target), "kept");

    DeleteFileW(path_.c_str());
    WriteBytes(path_, "kept");
    {
        ScopedOsOverride os;
        os->getFileInformationByHandle = ReportReparsePoint;
        EXPECT_FALSE(log.Open(0, LogFormat::Text, path_));
    }
    log.Close();
    EXPECT_EQ(ReadBytes(path_), "kept");
}

} // namespace
