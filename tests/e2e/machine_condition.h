#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace testing_support {

// A condition of real machines that the end-to-end tests run under, named by
// QL_CONDITION (none by default):
//   codepage-1252, codepage-1251, codepage-932  the ANSI code page, which the
//       test checks (Wine takes it from the process's LC_ALL), and an
//       installation folder named in that code page's script;
//   profile        application data, Documents and the temporary folder under
//                  a profile folder named outside ASCII;
//   long-documents a Documents folder of about 230 characters;
//   other-drive    application data on drive D:, the temporary folder on C:;
//   disk-full      files may not grow past QL_FILE_SIZE_LIMIT bytes.
// The folder redirections are made in the user's registry on construction
// and undone on destruction.
class MachineCondition {
public:
    MachineCondition();
    ~MachineCondition();
    MachineCondition(const MachineCondition&) = delete;
    MachineCondition& operator=(const MachineCondition&) = delete;

    const std::wstring& Name() const { return name_; }
    // The ANSI code page the condition promises, or 0.
    UINT CodePage() const;
    // The last part of the installation folder's name.
    std::wstring InstallFolderName() const;
    // The largest file the disk-full condition lets a process write.
    unsigned long FileSizeLimit() const;
    // The temporary folder the program is given, or empty for the test's own.
    const std::wstring& TempFolder() const { return tempFolder_; }

private:
    struct SavedValue {
        std::wstring name;
        DWORD type = 0;
        std::vector<BYTE> data;
    };
    void Redirect(const wchar_t* folder, const std::wstring& path);

    std::wstring name_;
    std::wstring tempFolder_;
    std::vector<SavedValue> saved_;
};

} // namespace testing_support
