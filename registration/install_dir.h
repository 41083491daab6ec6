#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <utility>

// The installation folder as the passes take it: at most kMaxLength
// characters, possibly empty. Only Accept makes one of a folder given, so
// the bound is checked once, where the folder comes in, and holds wherever
// it goes.
class InstallDir {
public:
    // MAX_PATH less the terminating NUL.
    static constexpr std::size_t kMaxLength = 259;

    // The empty folder: none was given, or the one given was refused.
    InstallDir() = default;

    // The folder, or nothing where it is longer than kMaxLength: cut, it
    // would name a different folder.
    static std::optional<InstallDir> Accept(std::wstring folder)
    {
        if (folder.size() > kMaxLength) {
            return std::nullopt;
        }
        return InstallDir(std::move(folder));
    }

    const std::wstring& Text() const { return folder_; }
    bool IsEmpty() const { return folder_.empty(); }

private:
    explicit InstallDir(std::wstring folder) : folder_(std::move(folder)) {}

    std::wstring folder_;
};
