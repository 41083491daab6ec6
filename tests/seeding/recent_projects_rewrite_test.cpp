#include "seeding/recent_projects_rewrite.h"

#include <gtest/gtest.h>

namespace {

const std::string kFirst = "C:/Users/user/Documents/My Quillora Projects/Corvane Quillora/Samples/Quillora "
                           "Reimagined/Quillora_Reimagined.qlpj";
const std::string kSecond = "C:/Users/user/Documents/My Quillora Projects/Corvane Quillora/Samples/Brew a "
                            "Mocha/Brew_a_Mocha.qlpj";

std::string Rewrite(const std::string& content)
{
    return RewriteRecentProjects(content, kFirst, kSecond);
}

TEST(TokenSubstitution, ReplacesEveryTokenAnywhereInTheLine)
{
    EXPECT_EQ(SubstituteTokens("[\"QLPJ1\",\"QLPJ2\"]", "A", "B"), "[\"A\",\"B\"]");
    EXPECT_EQ(SubstituteTokens("QLPJ1QLPJ1", "A", "B"), "AA");
    EXPECT_EQ(SubstituteTokens("QLPJ12", "A", "B"), "A2");
    EXPECT_EQ(SubstituteTokens("QLPQLPJ2J1", "A", "B"), "QLPBJ1");
    EXPECT_EQ(SubstituteTokens("qlpj1 QLPJ QLPJ3 QLPJ", "A", "B"), "qlpj1 QLPJ QLPJ3 QLPJ");
}

TEST(TokenSubstitution, EndsWhenASamplePathHoldsATokenText)
{
    EXPECT_EQ(SubstituteTokens("QLPJ1 QLPJ2", "x/QLPJ1", "y/QLPJ2QLPJ1"), "x/QLPJ1 y/QLPJ2QLPJ1");
}

TEST(RecentProjectsRewrite, EveryLineEndsWithCrLf)
{
    EXPECT_EQ(Rewrite("a\nb"), "a\r\nb\r\n");
    EXPECT_EQ(Rewrite("a\r\nb\r\n"), "a\r\nb\r\n");
    EXPECT_EQ(Rewrite("a\n\n\nb\n"), "a\r\n\r\n\r\nb\r\n");
    EXPECT_EQ(Rewrite(""), "");
    EXPECT_EQ(Rewrite("\n"), "\r\n");
    EXPECT_EQ(Rewrite("\r\n"), "\r\n");
    // A carriage return that ends no line is text and stays.
    EXPECT_EQ(Rewrite("a\rb"), "a\rb\r\n");
}

TEST(RecentProjectsRewrite, SubstitutesTokensAndKeepsEverythingElse)
{
    EXPECT_EQ(Rewrite("{\"recent\": [\n  \"QLPJ1\",\n  \"QLPJ2\"\n]}"),
              "{\"recent\": [\r\n  \"" + kFirst + "\",\r\n  \"" + kSecond + "\"\r\n]}\r\n");
    EXPECT_EQ(Rewrite(std::string("\0QLPJ2\xff", 7)), std::string("\0", 1) + kSecond + "\xff\r\n");
}

TEST(RecentProjectsRewrite, RunningTwiceChangesNothingMore)
{
    const std::string once = Rewrite("QLPJ1\nQLPJ2");
    EXPECT_EQ(Rewrite(once), once);
}

TEST(RecentProjectsRewrite, BuildsTheNewFileInOneBufferOfItsSize)
{
    // A file of LF lines whose tokens make it grow by far more than a
    // sixteenth: growing a buffer by doubling would cost twice its size.
    std::string content;
    for (int line = 0; line < 20000; ++line) {
        content.append(line % 4 == 0 ? "QLPJ1\n" : "\"C:/a/b.qlpj\",\n");
    }
    const std::string rewritten = Rewrite(content);
    ASSERT_GT(rewritten.size(), content.size() * 2);
    EXPECT_LT(rewritten.capacity(), rewritten.size() + rewritten.size() / 16);
}

TEST(LineSplitting, DropsLineEndsOnly)
{
    const std::vector<std::string_view> lines = SplitLines("a\r\n\nb\r");
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "a");
    EXPECT_EQ(lines[1], "");
    EXPECT_EQ(lines[2], "b\r");
}

} // namespace
