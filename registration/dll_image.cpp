#include "registration/dll_image.h"

namespace {

constexpr std::size_t kPeOffsetField = 0x3C;
// The PE header can't overlap the DOS header, and no loader accepts one
// beyond the first few hundred megabytes; a larger offset means garbage.
constexpr std::uint32_t kLargestPeOffset = 0x10000000;

std::uint16_t ReadLittleEndian16(const unsigned char* bytes)
{
    return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
}

std::uint32_t ReadLittleEndian32(const unsigned char* bytes)
{
    return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
           (static_cast<std::uint32_t>(bytes[2]) << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
}

} // namespace

std::optional<std::uint32_t> PeHeaderOffset(const unsigned char* dosHeader, std::size_t size)
{
    if (size < kDosHeaderSize || dosHeader[0] != 'M' || dosHeader[1] != 'Z') {
        return std::nullopt;
    }
    const std::uint32_t offset = ReadLittleEndian32(dosHeader + kPeOffsetField);
    if (offset < kDosHeaderSize || offset > kLargestPeOffset) {
        return std::nullopt;
    }
    return offset;
}

std::optional<std::uint16_t> PeMachine(const unsigned char* peHeader, std::size_t size)
{
    if (size < kPeSignatureAndMachineSize || peHeader[0] != 'P' || peHeader[1] != 'E' || peHeader[2] != 0 ||
        peHeader[3] != 0) {
        return std::nullopt;
    }
    return ReadLittleEndian16(peHeader + 4);
}

std::wstring_view MachineName(std::uint16_t machine)
{
    switch (machine) {
    case kMachineX86:
        return L"x86";
    case 0x8664:
        return L"x64";
    case 0xAA64:
        return L"ARM64";
    case 0x01C4:
        return L"ARM";
    case 0x0200:
        return L"Itanium";
    default:
        return L"";
    }
}
