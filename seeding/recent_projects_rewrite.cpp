#include "seeding/recent_projects_rewrite.h"

#include <algorithm>

namespace {

// Both tokens share everything but their last character.
constexpr std::string_view kTokenStem = "QLPJ";

// Walks the line once, handing each run of plain text to `text` and each
// token's sample path to `path`. The scan goes on after the token, never
// inside an inserted path.
template <typename Text, typename Path>
void ScanForTokens(std::string_view line, std::string_view firstPath, std::string_view secondPath, Text&& text,
                   Path&& path)
{
    std::size_t copied = 0;
    std::size_t stem = line.find(kTokenStem);
    while (stem != std::string_view::npos) {
        const std::size_t digit = stem + kTokenStem.size();
        if (digit < line.size() && (line[digit] == kFirstToken.back() || line[digit] == kSecondToken.back())) {
            text(line.substr(copied, stem - copied));
            path(line[digit] == kFirstToken.back() ? firstPath : secondPath);
            copied = digit + 1;
            stem = line.find(kTokenStem, copied);
        } else {
            stem = line.find(kTokenStem, stem + 1);
        }
    }
    text(line.substr(copied));
}

constexpr std::string_view kLineEnd = "\r\n";

} // namespace

std::uint64_t RewrittenSize(std::string_view content, std::string_view firstPath, std::string_view secondPath)
{
    std::uint64_t size = 0;
    const auto add = [&size](std::string_view piece) { size += piece.size(); };
    ForEachLine(content, [&](std::string_view line) {
        ScanForTokens(line, firstPath, secondPath, add, add);
        size += kLineEnd.size();
    });
    return size;
}

void RewriteRecentProjectsInto(char* out, std::string_view content, std::string_view firstPath,
                               std::string_view secondPath)
{
    char* next = out;
    const auto append = [&next](std::string_view piece) { next = std::copy(piece.begin(), piece.end(), next); };
    ForEachLine(content, [&](std::string_view line) {
        ScanForTokens(line, firstPath, secondPath, append, append);
        append(kLineEnd);
    });
}

void AppendWithTokensReplaced(std::string& out, std::string_view line, std::string_view firstPath,
                              std::string_view secondPath)
{
    const auto append = [&out](std::string_view piece) { out.append(piece); };
    ScanForTokens(line, firstPath, secondPath, append, append);
}

std::string SubstituteTokens(std::string_view line, std::string_view firstPath, std::string_view secondPath)
{
    std::string result;
    AppendWithTokensReplaced(result, line, firstPath, secondPath);
    return result;
}

std::vector<std::string_view> SplitLines(std::string_view content)
{
    std::vector<std::string_view> lines;
    ForEachLine(content, [&lines](std::string_view line) { lines.push_back(line); });
    return lines;
}

std::string RewriteRecentProjects(std::string_view content, std::string_view firstPath,
                                  std::string_view secondPath)
{
    std::string rewritten(static_cast<std::size_t>(RewrittenSize(content, firstPath, secondPath)), '\0');
    RewriteRecentProjectsInto(&rewritten[0], content, firstPath, secondPath);
    return rewritten;
}
