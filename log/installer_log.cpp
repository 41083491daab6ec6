#include "log/installer_log.h"

#include "platform/os_calls.h"
#include "platform/whole_file.h"

#include <shlwapi.h>

#include <ctime>

namespace {

constexpr std::size_t kSinkLineLimit = 4096;
constexpr char kByteOrderMark[] = {'\xFF', '\xFE'};

// Date and time are separate readings of the clock, time first, as the
// records have always been stamped.
RecordStamp ReadClock()
{
    RecordStamp stamp;
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    stamp.time = FormatTime(now.wHour, now.wMinute, now.wSecond);
    ::GetLocalTime(&now);
    stamp.date = FormatDate(now.wMonth, now.wDay, now.wYear);
    stamp.seconds = static_cast<std::int32_t>(std::time(nullptr));
    ::GetSystemTime(&now);
    stamp.milliseconds = now.wMilliseconds;
    return stamp;
}

bool MoveTo(HANDLE file, LONGLONG offset, DWORD origin)
{
    LARGE_INTEGER distance{};
    distance.QuadPart = offset;
    return Os().setFilePointerEx(file, distance, nullptr, origin) != FALSE;
}

std::string_view AsBytes(std::wstring_view text)
{
    return std::string_view(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

// Run elevated, the program must not append to whatever a link planted in
// the user's temporary folder points at.
bool IsOwnPlainFile(HANDLE file, FileFacts& facts)
{
    return InspectOpenFile(file, facts) && !facts.IsReparsePoint() && !facts.HasOtherNames();
}

} // namespace

InstallerLog::~InstallerLog()
{
    Close();
}

bool InstallerLog::OpenInTempFolder(const std::wstring& fileName, std::int32_t echoToConsole)
{
    maxLevel_ = static_cast<std::int32_t>(LogLevel::CRITICALERROR);
    wchar_t folder[MAX_PATH] = {};
    const auto tempPath = Os().getTempPath2 != nullptr ? Os().getTempPath2 : Os().getTempPath;
    const DWORD length = tempPath(MAX_PATH, folder);
    if (length == 0 || length >= MAX_PATH) {
        // Without its folder the path would name the root of the current
        // drive; no log is better than a log nobody finds.
        return Open(echoToConsole, LogFormat::Text, std::wstring());
    }
    ::PathRemoveBackslashW(folder);
    return Open(echoToConsole, LogFormat::Text, std::wstring(folder) + L"\\" + fileName);
}

bool InstallerLog::Open(std::int32_t echoToConsole, LogFormat format, std::wstring path)
{
    openStatus_ = 0;
    if (path.empty()) {
        openStatus_ = -1;
        return false;
    }
    if (!lock_) {
        lock_.emplace();
    }
    logFormat_ = format;
    filePath_ = std::move(path);
    if (!OpenFile()) {
        // No half-open stream may outlive a failed open: Close would add a
        // closing element to it, and Write would fill a log reported as failed.
        logFile_.Reset();
        openStatus_ = -1;
        return false;
    }
    openStatus_ = 0;
    echoToConsole_ = echoToConsole;
    recordCount_ = 0;
    return true;
}

// Opens the file for this process alone (no sharing) and without letting
// child processes inherit the handle, refuses a link, then positions it where
// this run's records go: after the header of a new file, at the end of an
// existing text log, or over the last line of an existing XML manifest (its
// closing tag).
bool InstallerLog::OpenFile()
{
    logFile_.Reset(Os().createFile(filePath_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!logFile_.IsValid()) {
        return false;
    }
    const bool existed = ::GetLastError() == ERROR_ALREADY_EXISTS;
    FileFacts facts;
    if (!IsOwnPlainFile(logFile_.Get(), facts)) {
        return false;
    }
    if (!existed) {
        StartNewFile();
        return true;
    }
    if (logFormat_ != LogFormat::Xml) {
        return MoveTo(logFile_.Get(), 0, FILE_END);
    }
    return ContinueXmlManifest(facts.size);
}

// A new file gets its byte-order mark, and an XML log its header. A file
// that can't get them is removed again and this run's records are lost: left
// there, every later run would find it existing and append to it, all
// without a mark, for good.
void InstallerLog::StartNewFile()
{
    const bool started =
        WriteAll(logFile_.Get(), std::string_view(kByteOrderMark, sizeof kByteOrderMark)) &&
        (logFormat_ != LogFormat::Xml || WriteAll(logFile_.Get(), AsBytes(kXmlHeader)));
    if (!started) {
        logFile_.Reset();
        Os().deleteFile(filePath_.c_str());
    }
}

// Cuts the old last line off, so that a shorter continuation can't leave a
// tail of it behind and the file ends with exactly one closing tag.
bool InstallerLog::ContinueXmlManifest(unsigned long long size)
{
    HeapBuffer bytes;
    return ReadWholeFile(logFile_.Get(), size, bytes) == ReadOutcome::Read &&
           MoveTo(logFile_.Get(), static_cast<LONGLONG>(FindLastLineStart(std::string_view(bytes.Data(), bytes.Size()))),
                  FILE_BEGIN) &&
           Os().setEndOfFile(logFile_.Get());
}

void InstallerLog::WriteToFile(const std::wstring& text)
{
    // A record that can't be written is lost; the run goes on.
    static_cast<void>(WriteAll(logFile_.Get(), AsBytes(text)));
}

// To a console, as the console's own text, with every letter. To a pipe or a
// file, UTF-16LE after a byte-order mark: the callers that copy a program's
// output into their own log (NSIS's nsExec, WiX's QuietExec) read UTF-16 by
// that mark, with every letter, where the runtime's narrow stream would lose
// those outside its code page; the same bytes written to a console would
// show as noise. A program started without a standard output echoes nothing.
void InstallerLog::EchoToStandardOutput(const std::wstring& line)
{
    const HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (output == nullptr || output == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD consoleMode = 0;
    if (::GetConsoleMode(output, &consoleMode)) {
        DWORD written = 0;
        Os().writeConsole(output, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        return;
    }
    // One write per record, the mark with the first, so that a reader that
    // looks at its first read to choose an encoding sees the mark.
    const std::wstring text = echoStarted_ ? line : L"\xFEFF" + line;
    echoStarted_ = true;
    DWORD written = 0;
    Os().writeFile(output, text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &written, nullptr);
}

void InstallerLog::Write(LogLevel level, const wchar_t* message)
{
    if (!lock_) {
        return;
    }
    const ScopedLock held(*lock_);
    if (static_cast<std::int32_t>(level) <= maxLevel_) {
        const std::int32_t number = ++recordCount_;
        const RecordStamp stamp = ReadClock();
        // The file first: a caller that reads the echo only once the program
        // has ended fills the pipe and holds the program in its write, and
        // the file must then hold the record being echoed.
        if (logFile_.IsValid()) {
            if (logFormat_ == LogFormat::Text) {
                WriteToFile(RenderTextRecord(stamp, level, message));
            } else if (logFormat_ == LogFormat::Xml) {
                WriteToFile(RenderXmlRecord(stamp, number, level, message));
            }
        }
        if (lineSink_ != nullptr) {
            lineSink_(RenderSinkLine(stamp, number, level, message, kSinkLineLimit).c_str());
        }
        if (echoToConsole_ == 1) {
            EchoToStandardOutput(RenderEchoLine(message));
        }
    }
}

void InstallerLog::Close()
{
    if (logFile_.IsValid() && logFormat_ == LogFormat::Xml) {
        WriteToFile(kXmlFooter);
    }
    logFile_.Reset();
    lock_.reset();
}
