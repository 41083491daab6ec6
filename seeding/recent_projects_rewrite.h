#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

constexpr std::string_view kFirstToken = "QLPJ1";
constexpr std::string_view kSecondToken = "QLPJ2";

// Appends the line with every token replaced by its sample path. The scan
// goes on after each inserted path, so a path that itself holds a token text
// is inserted as it is and the cost stays linear in the line's length.
void AppendWithTokensReplaced(std::string& out, std::string_view line, std::string_view firstPath,
                              std::string_view secondPath);

std::string SubstituteTokens(std::string_view line, std::string_view firstPath, std::string_view secondPath);

// Calls `visit` with each line of a text file, without its line end (LF or
// CR LF). A last line without a line end is visited; a file ending with a
// line end yields no extra empty line.
template <typename Visit>
void ForEachLine(std::string_view content, Visit&& visit)
{
    std::size_t start = 0;
    while (start < content.size()) {
        std::size_t end = content.find('\n', start);
        const std::size_t next = end == std::string_view::npos ? content.size() : end + 1;
        if (end == std::string_view::npos) {
            end = content.size();
        } else if (end > start && content[end - 1] == '\r') {
            --end;
        }
        visit(content.substr(start, end - start));
        start = next;
    }
}

std::vector<std::string_view> SplitLines(std::string_view content);

// The size in bytes of the whole new file, counted without building it, and
// wide enough that no file and paths can make it wrap.
std::uint64_t RewrittenSize(std::string_view content, std::string_view firstPath, std::string_view secondPath);

// Writes the whole new file, exactly RewrittenSize() bytes, to `out`: every
// line substituted and ended with CR LF.
void RewriteRecentProjectsInto(char* out, std::string_view content, std::string_view firstPath,
                               std::string_view secondPath);

// The whole new file as one string.
std::string RewriteRecentProjects(std::string_view content, std::string_view firstPath,
                                  std::string_view secondPath);
