#include "seeding/recent_projects_rewrite.h"

namespace {

// Both tokens share everything but their last character.
constexpr std::string_view kTokenStem = "QLPJ";

} // namespace

void AppendWithTokensReplaced(std::string& out, std::string_view line, std::string_view firstPath,
                              std::string_view secondPath)
{
    std::size_t copied = 0;
    std::size_t stem = line.find(kTokenStem);
    while (stem != std::string_view::npos) {
        const std::size_t digit = stem + kTokenStem.size();
        if (digit < line.size() && (line[digit] == kFirstToken.back() || line[digit] == kSecondToken.back())) {
            out.append(line, copied, stem - copied);
            out.append(line[digit] == kFirstToken.back() ? firstPath : secondPath);
            copied = digit + 1;
            stem = line.find(kTokenStem, copied);
        } else {
            stem = line.find(kTokenStem, stem + 1);
        }
    }
    out.append(line, copied, std::string_view::npos);
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
    std::string rewritten;
    rewritten.reserve(content.size() + content.size() / 16 + 2);
    ForEachLine(content, [&](std::string_view line) {
        AppendWithTokensReplaced(rewritten, line, firstPath, secondPath);
        rewritten.append("\r\n");
    });
    return rewritten;
}
