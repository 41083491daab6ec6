#include "registration/dll_check.h"

#include "log/installer_log.h"
#include "log/record_format.h"
#include "platform/os_calls.h"
#include "platform/unique_handle.h"
#include "platform/whole_file.h"
#include "registration/dll_image.h"

#include <windows.h>

#include <cstdint>
#include <cwchar>
#include <optional>

namespace {

enum class Finding { Loadable, Missing, Unreadable, NotADll, OtherMachine };

struct DllFacts {
    Finding finding = Finding::Loadable;
    DWORD error = ERROR_SUCCESS;
    std::uint16_t machine = 0;
};

bool ReadExactlyAt(HANDLE file, std::uint32_t offset, unsigned char* buffer, DWORD size)
{
    LARGE_INTEGER position{};
    position.QuadPart = offset;
    DWORD read = 0;
    return Os().setFilePointerEx(file, position, nullptr, FILE_BEGIN) &&
           Os().readFile(file, buffer, size, &read, nullptr) && read == size;
}

std::optional<std::uint16_t> ReadMachine(HANDLE file)
{
    unsigned char dosHeader[kDosHeaderSize] = {};
    if (!ReadExactlyAt(file, 0, dosHeader, sizeof dosHeader)) {
        return std::nullopt;
    }
    const std::optional<std::uint32_t> peOffset = PeHeaderOffset(dosHeader, sizeof dosHeader);
    unsigned char peHeader[kPeSignatureAndMachineSize] = {};
    if (!peOffset || !ReadExactlyAt(file, *peOffset, peHeader, sizeof peHeader)) {
        return std::nullopt;
    }
    return PeMachine(peHeader, sizeof peHeader);
}

DllFacts InspectDll(const std::wstring& dllPath)
{
    // Shared every way, so that the check never stands in anyone's way.
    const UniqueHandle file(Os().createFile(dllPath.c_str(), GENERIC_READ,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid()) {
        const DWORD error = ::GetLastError();
        return {IsMissingFileError(error) ? Finding::Missing : Finding::Unreadable, error, 0};
    }
    const std::optional<std::uint16_t> machine = ReadMachine(file.Get());
    if (!machine) {
        return {Finding::NotADll, ERROR_SUCCESS, 0};
    }
    return {*machine == kMachineX86 ? Finding::Loadable : Finding::OtherMachine, ERROR_SUCCESS, *machine};
}

std::wstring OtherMachinePattern(std::uint16_t machine)
{
    wchar_t number[8] = {};
    std::swprintf(number, sizeof number / sizeof number[0], L"0x%04X", static_cast<unsigned>(machine));
    const std::wstring_view name = MachineName(machine);
    const std::wstring built = name.empty() ? std::wstring(L"machine type ") + number
                                            : std::wstring(name) + L" (machine type " + number + L")";
    return L"QL Custom Action: the DLL is built for " + built +
           L", which the 32-bit registration tool cannot load: %s";
}

} // namespace

void LogWhatKeepsTheDllFromLoading(InstallerLog& log, const std::wstring& dllPath)
{
    const DllFacts facts = InspectDll(dllPath);
    std::wstring pattern;
    switch (facts.finding) {
    case Finding::Loadable:
        return;
    case Finding::Missing:
        pattern = L"QL Custom Action: the DLL is missing: %s";
        break;
    case Finding::Unreadable:
        pattern = L"QL Custom Action: the DLL could not be read to check it, error " + std::to_wstring(facts.error) +
                  L": %s";
        break;
    case Finding::NotADll:
        pattern = L"QL Custom Action: the file is not a Windows DLL: %s";
        break;
    case Finding::OtherMachine:
        pattern = OtherMachinePattern(facts.machine);
        break;
    }
    log.Write(LogLevel::INFO, FormatRecord(pattern, dllPath).c_str());
}
