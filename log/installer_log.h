#pragma once

#include "log/record_format.h"
#include "platform/critical_section.h"
#include "platform/unique_handle.h"

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

// The run's log file: UTF-16LE with a byte-order mark, one record per call
// to Write. Each record reaches the file before Write returns, so a run that
// is killed keeps every record it wrote.
class InstallerLog {
public:
    using LineSink = void (*)(const wchar_t* line);

    InstallerLog() = default;
    ~InstallerLog();
    InstallerLog(const InstallerLog&) = delete;
    InstallerLog& operator=(const InstallerLog&) = delete;

    // Opens `fileName` in the user's temporary folder, as text, writing
    // every level; `echoToConsole` 1 also echoes each record to standard
    // output.
    bool OpenInTempFolder(const std::wstring& fileName, std::int32_t echoToConsole = 0);
    bool Open(std::int32_t echoToConsole, LogFormat format, std::wstring path);
    void Write(LogLevel level, const wchar_t* message);
    void Close();

    void SetMaxLevel(std::int32_t maxLevel) { maxLevel_ = maxLevel; }
    void SetLineSink(LineSink sink) { lineSink_ = sink; }

    std::int32_t RecordCount() const { return recordCount_; }
    std::int32_t OpenStatus() const { return openStatus_; }
    const std::wstring& FilePath() const { return filePath_; }

private:
    bool OpenFile();
    void StartNewFile();
    bool ContinueXmlManifest(unsigned long long size);
    void WriteToFile(const std::wstring& text);
    void EchoToStandardOutput(const std::wstring& line);

    // Made by the first Open: a log that was never opened takes no record.
    std::optional<CriticalSection> lock_;
    std::int32_t recordCount_ = 0;
    std::int32_t openStatus_ = 0;
    std::wstring filePath_;
    UniqueHandle logFile_;
    std::int32_t maxLevel_ = static_cast<std::int32_t>(LogLevel::CRITICALERROR);
    std::int32_t echoToConsole_ = 0;
    bool echoStarted_ = false;
    LogFormat logFormat_ = LogFormat::Text;
    LineSink lineSink_ = nullptr;
};
