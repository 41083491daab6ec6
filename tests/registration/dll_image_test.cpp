#include "registration/dll_image.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

// A file's start as a linker writes it: "MZ", the PE header's offset at 0x3C,
// then at that offset "PE\0\0" and the machine type.
Bytes Image(std::uint32_t peOffset, std::uint16_t machine)
{
    Bytes bytes(peOffset + kPeSignatureAndMachineSize, 0);
    bytes[0] = 'M';
    bytes[1] = 'Z';
    for (int i = 0; i < 4; ++i) {
        bytes[0x3C + i] = static_cast<unsigned char>(peOffset >> (8 * i));
    }
    bytes[peOffset] = 'P';
    bytes[peOffset + 1] = 'E';
    bytes[peOffset + 4] = static_cast<unsigned char>(machine);
    bytes[peOffset + 5] = static_cast<unsigned char>(machine >> 8);
    return bytes;
}

std::optional<std::uint16_t> MachineOf(const Bytes& bytes)
{
    const std::optional<std::uint32_t> offset = PeHeaderOffset(bytes.data(), bytes.size());
    if (!offset || *offset > bytes.size()) {
        return std::nullopt;
    }
    return PeMachine(bytes.data() + *offset, bytes.size() - *offset);
}

TEST(DllImage, ReadsTheMachineWhereverThePeHeaderLies)
{
    EXPECT_EQ(MachineOf(Image(0x80, kMachineX86)), kMachineX86);
    EXPECT_EQ(MachineOf(Image(0x40, 0x8664)), 0x8664);
    EXPECT_EQ(MachineOf(Image(0x1F8, 0xAA64)), 0xAA64);
}

TEST(DllImage, AnythingElseIsNoImage)
{
    const Bytes text(200, 'a');
    EXPECT_FALSE(MachineOf(text));
    Bytes truncated = Image(0x80, kMachineX86);
    truncated.resize(kDosHeaderSize - 1);
    EXPECT_FALSE(PeHeaderOffset(truncated.data(), truncated.size()));
    Bytes insideDosHeader = Image(0x80, kMachineX86);
    insideDosHeader[0x3C] = 0x20;
    EXPECT_FALSE(PeHeaderOffset(insideDosHeader.data(), insideDosHeader.size()));
    Bytes farAway = Image(0x80, kMachineX86);
    farAway[0x3F] = 0xFF;
    EXPECT_FALSE(PeHeaderOffset(farAway.data(), farAway.size()));
    Bytes neSignature = Image(0x80, kMachineX86);
    neSignature[0x80] = 'N';
    EXPECT_FALSE(MachineOf(neSignature));
}

} // namespace
