#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

// Reading just enough of a DLL's headers to tell whether the 32-bit
// registration tool can load it, before the tool is asked to: the tool's own
// answer is a bare exit code.

// The bytes to read from the file's start: the DOS header, whose last field
// says where the PE header begins.
constexpr std::size_t kDosHeaderSize = 64;
// The bytes to read at the PE header: its signature and the machine type.
constexpr std::size_t kPeSignatureAndMachineSize = 6;

constexpr std::uint16_t kMachineX86 = 0x014C;

// Where the PE header begins, or nothing when the bytes are no DOS header
// (no "MZ", too short, or an offset that can't be one).
std::optional<std::uint32_t> PeHeaderOffset(const unsigned char* dosHeader, std::size_t size);

// The machine type that follows the "PE\0\0" signature, or nothing when the
// signature isn't there.
std::optional<std::uint16_t> PeMachine(const unsigned char* peHeader, std::size_t size);

// The name of a machine type as people know it, or empty for one without a
// common name.
std::wstring_view MachineName(std::uint16_t machine);
