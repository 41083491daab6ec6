// The option walk over arbitrary argument lists, against a model that reads
// the pair rules the other way round: the last pair of each kind wins.
#include "driver/options.h"
#include "fuzz_support.h"

#include <iterator>
#include <vector>

namespace {

const std::wstring kNames[] = {L"-Post_install", L"-uninstall", L"-installDir", L"-failOnError", L"-echo", L"1"};

std::vector<std::wstring> ConsumeArguments(FuzzedDataProvider& data)
{
    std::vector<std::wstring> arguments;
    while (data.remaining_bytes() > 0) {
        // Mostly the names the walk knows, so that pairs of them are common.
        const std::uint8_t pick = data.ConsumeIntegral<std::uint8_t>();
        if (pick < 160) {
            arguments.push_back(kNames[pick % std::size(kNames)]);
        } else {
            arguments.push_back(ConsumeWideText(data, 300));
        }
    }
    // Exactly as long as its content, so that a read past the end is caught.
    arguments.shrink_to_fit();
    return arguments;
}

Options Model(const std::vector<std::wstring>& arguments)
{
    Options model;
    bool passFound = false;
    bool directoryFound = false;
    const std::size_t pairs = arguments.size() / 2;
    for (std::size_t pair = 0; pair < pairs; ++pair) {
        model.names.push_back(arguments[2 * pair]);
    }
    for (std::size_t pair = pairs; pair-- > 0;) {
        const std::wstring& name = arguments[2 * pair];
        if (!passFound && (name == L"-Post_install" || name == L"-uninstall")) {
            model.requestedPass = name.substr(1);
            passFound = true;
        }
        model.failOnError = model.failOnError || name == L"-failOnError";
        model.echo = model.echo || name == L"-echo";
        if (!directoryFound && name == L"-installDir") {
            model.installDir = arguments[2 * pair + 1];
            directoryFound = true;
        }
    }
    return model;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    FuzzedDataProvider data(bytes, size);
    const std::vector<std::wstring> arguments = ConsumeArguments(data);
    const Options options = ReadOptions(arguments);
    const Options model = Model(arguments);
    FUZZ_REQUIRE(options.requestedPass == model.requestedPass);
    FUZZ_REQUIRE(options.installDir == model.installDir);
    FUZZ_REQUIRE(options.failOnError == model.failOnError);
    FUZZ_REQUIRE(options.echo == model.echo);
    FUZZ_REQUIRE(options.names == model.names);
    return 0;
}
