// The recent-projects rewrite over arbitrary file bytes and sample paths,
// against a model that splits and substitutes character by character.
#include "fuzz_support.h"
#include "seeding/recent_projects_rewrite.h"

#include <algorithm>
#include <iterator>
#include <string_view>
#include <utility>
#include <vector>

namespace {

struct Rewrite {
    std::string text;
    // Where the model put a sample path: [first, second) of the text.
    std::vector<std::pair<std::size_t, std::size_t>> insertions;
};

void SubstituteInto(Rewrite& out, std::string_view line, std::string_view first, std::string_view second)
{
    std::size_t at = 0;
    while (at < line.size()) {
        const std::string_view rest = line.substr(at);
        if (rest.substr(0, 5) == "QLPJ1" || rest.substr(0, 5) == "QLPJ2") {
            const std::string_view path = rest[4] == '1' ? first : second;
            out.insertions.emplace_back(out.text.size(), out.text.size() + path.size());
            out.text.append(path);
            at += 5;
        } else {
            out.text.push_back(line[at]);
            ++at;
        }
    }
}

Rewrite Model(std::string_view content, std::string_view first, std::string_view second)
{
    Rewrite out;
    std::string line;
    for (std::size_t at = 0; at < content.size(); ++at) {
        if (content[at] != '\n') {
            line.push_back(content[at]);
            if (at + 1 < content.size()) {
                continue;
            }
        } else if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        SubstituteInto(out, line, first, second);
        out.text.append("\r\n");
        line.clear();
    }
    return out;
}

bool EveryLineEndsWithCrLf(std::string_view text)
{
    for (std::size_t at = 0; at < text.size(); ++at) {
        if (text[at] == '\n' && (at == 0 || text[at - 1] != '\r')) {
            return false;
        }
    }
    return text.empty() || (text.size() >= 2 && text.substr(text.size() - 2) == "\r\n");
}

// A token in the output must overlap a path that the rewrite inserted.
bool EveryTokenCameFromAPath(const Rewrite& rewrite)
{
    const auto everyOccurrenceOverlaps = [&rewrite](std::string_view token) {
        for (std::size_t at = rewrite.text.find(token); at != std::string::npos;
             at = rewrite.text.find(token, at + 1)) {
            bool overlaps = false;
            for (const auto& [begin, end] : rewrite.insertions) {
                overlaps = overlaps || (begin < at + token.size() && at < end);
            }
            if (!overlaps) {
                return false;
            }
        }
        return true;
    };
    const std::string_view tokens[] = {kFirstToken, kSecondToken};
    return std::all_of(std::begin(tokens), std::end(tokens), everyOccurrenceOverlaps);
}

// A Windows path can't hold a control character, so a sample path never
// brings a line end of its own.
std::string ConsumePath(FuzzedDataProvider& data)
{
    std::string path = data.ConsumeRandomLengthString(300);
    path.erase(std::remove_if(path.begin(), path.end(), [](char c) { return c == '\r' || c == '\n'; }),
               path.end());
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    FuzzedDataProvider data(bytes, size);
    const std::string first = ConsumePath(data);
    const std::string second = ConsumePath(data);
    const std::string content = data.ConsumeRemainingBytesAsString();

    const std::string rewritten = RewriteRecentProjects(content, first, second);
    const Rewrite model = Model(content, first, second);
    FUZZ_REQUIRE(rewritten == model.text);
    FUZZ_REQUIRE(EveryLineEndsWithCrLf(rewritten));
    FUZZ_REQUIRE(EveryTokenCameFromAPath(model));

    std::size_t lines = 0;
    ForEachLine(content, [&lines](std::string_view) { ++lines; });
    FUZZ_REQUIRE(lines == SplitLines(content).size());
    return 0;
}
