#pragma once

#include "log/installer_log.h"
#include "support/test_support.h"

#include <string>
#include <vector>

namespace testing_support {

// An open text log in a scratch folder whose messages a test can read back.
class LogCapture {
public:
    explicit LogCapture(const std::wstring& name) : path_(MakeScratchFolder(name) + L"\\log.txt")
    {
        log_.Open(0, LogFormat::Text, path_);
    }
    InstallerLog& Log() { return log_; }
    std::vector<std::wstring> Messages()
    {
        log_.Close();
        return LogMessages(path_);
    }

private:
    std::wstring path_;
    InstallerLog log_;
};

} // namespace testing_support
