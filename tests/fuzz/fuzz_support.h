#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

// A broken property is a crash, so that libFuzzer keeps the input.
#define FUZZ_REQUIRE(condition)                                                       \
    do {                                                                              \
        if (!(condition)) {                                                           \
            std::fprintf(stderr, "%s:%d: broken: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                             \
        }                                                                             \
    } while (false)

// UTF-16 code units of any value, as the Windows side can see them.
inline std::wstring ConsumeWideText(FuzzedDataProvider& data, std::size_t maxLength)
{
    std::wstring text;
    const std::size_t length = data.ConsumeIntegralInRange<std::size_t>(0, maxLength);
    for (std::size_t i = 0; i < length && data.remaining_bytes() > 0; ++i) {
        text.push_back(static_cast<wchar_t>(data.ConsumeIntegral<std::uint16_t>()));
    }
    return text;
}
