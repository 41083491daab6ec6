#include "e2e/machine_condition.h"

#include "support/test_support.h"

#include <cstdlib>
#include <cwchar>

namespace testing_support {

namespace {

const wchar_t kShellFolders[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
const wchar_t kCodePagePrefix[] = L"codepage-";

std::wstring Variable(const wchar_t* name)
{
    wchar_t value[512] = {};
    GetEnvironmentVariableW(name, value, 512);
    return value;
}

} // namespace

MachineCondition::MachineCondition() : name_(Variable(L"QL_CONDITION"))
{
    if (name_ == L"profile") {
        const std::wstring profile = L"C:\\users\\J\x00FCrgen \x00D8ster";
        Redirect(L"AppData", profile + L"\\AppData\\Roaming");
        Redirect(L"Personal", profile + L"\\Documents");
        tempFolder_ = profile + L"\\AppData\\Local\\Temp";
        CreateFolders(tempFolder_);
    } else if (name_ == L"long-documents") {
        // With the sample's own part, each sample path passes 260 characters.
        std::wstring documents = L"C:\\users\\long";
        while (documents.size() < 220) {
            documents += L"\\a folder with a rather long name";
        }
        Redirect(L"Personal", documents.substr(0, 230));
    } else if (name_ == L"other-drive") {
        Redirect(L"AppData", L"D:\\users\\AppData\\Roaming");
    }
}

MachineCondition::~MachineCondition()
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kShellFolders, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) {
        return;
    }
    for (const SavedValue& value : saved_) {
        RegSetValueExW(key, value.name.c_str(), 0, value.type, value.data.data(), static_cast<DWORD>(value.data.size()));
    }
    RegCloseKey(key);
}

void MachineCondition::Redirect(const wchar_t* folder, const std::wstring& path)
{
    CreateFolders(path);
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kShellFolders, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key) != ERROR_SUCCESS) {
        return;
    }
    SavedValue saved;
    saved.name = folder;
    DWORD size = 0;
    if (RegQueryValueExW(key, folder, nullptr, &saved.type, nullptr, &size) == ERROR_SUCCESS) {
        saved.data.resize(size);
        RegQueryValueExW(key, folder, nullptr, &saved.type, saved.data.data(), &size);
        saved_.push_back(saved);
    }
    RegSetValueExW(key, folder, 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                   static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

UINT MachineCondition::CodePage() const
{
    const std::size_t prefix = std::wcslen(kCodePagePrefix);
    return name_.compare(0, prefix, kCodePagePrefix) == 0 ? static_cast<UINT>(std::stoul(name_.substr(prefix))) : 0;
}

unsigned long MachineCondition::FileSizeLimit() const
{
    return std::wcstoul(Variable(L"QL_FILE_SIZE_LIMIT").c_str(), nullptr, 10);
}

std::wstring MachineCondition::InstallFolderName() const
{
    switch (CodePage()) {
    case 1252:
        return L"Programme Caf\x00E9 \x00D8lsen";
    case 1251:
        return L"\x041F\x0440\x043E\x0433\x0440\x0430\x043C\x043C\x044B";
    case 932:
        // The second byte of U+8868 in code page 932 is a backslash.
        return L"\x30D7\x30ED\x30B0\x30E9\x30E0 \x8868\x793A";
    default:
        return L"e2e-install";
    }
}

} // namespace testing_support
