#include "driver/options.h"

#include <gtest/gtest.h>

namespace {

Options Read(const std::vector<std::wstring>& arguments)
{
    return ReadOptions(arguments);
}

TEST(OptionWalk, ReadsPassAndDirectoryFromPairs)
{
    const Options options = Read({L"-Post_install", L"1", L"-installDir", L"D:\\Apps"});
    EXPECT_EQ(options.requestedPass, L"Post_install");
    EXPECT_EQ(options.installDir, L"D:\\Apps");
}

TEST(OptionWalk, PairsAreFixedByPosition)
{
    // (-Post_install, -installDir) and a lone D:\Apps: the pass but no directory.
    Options options = Read({L"-Post_install", L"-installDir", L"D:\\Apps"});
    EXPECT_EQ(options.requestedPass, L"Post_install");
    EXPECT_EQ(options.installDir, L"");

    // The name with the value -Post_install: a directory, no pass.
    options = Read({L"-installDir", L"-Post_install"});
    EXPECT_EQ(options.requestedPass, L"");
    EXPECT_EQ(options.installDir, L"-Post_install");

    // An unknown name skips its value, so the value is never read as a name.
    options = Read({L"x", L"-Post_install", L"y", L"z"});
    EXPECT_EQ(options.requestedPass, L"");
}

TEST(OptionWalk, LastArgumentWithoutPartnerIsIgnored)
{
    const Options options = Read({L"-installDir", L"D:\\Apps", L"-uninstall"});
    EXPECT_EQ(options.requestedPass, L"");
    EXPECT_EQ(options.installDir, L"D:\\Apps");
    EXPECT_EQ(Read({L"-Post_install"}).requestedPass, L"");
    EXPECT_EQ(Read({}).requestedPass, L"");
}

TEST(OptionWalk, LaterPairsOverrideEarlierOnes)
{
    const Options options =
        Read({L"-uninstall", L"x", L"-installDir", L"A", L"-Post_install", L"x", L"-installDir", L"B"});
    EXPECT_EQ(options.requestedPass, L"Post_install");
    EXPECT_EQ(options.installDir, L"B");
}

TEST(OptionWalk, NamesAreExactAndCaseSensitive)
{
    EXPECT_EQ(Read({L"-post_install", L"x"}).requestedPass, L"");
    EXPECT_EQ(Read({L"Post_install", L"x"}).requestedPass, L"");
    EXPECT_EQ(Read({L"-Uninstall", L"x"}).requestedPass, L"");
    EXPECT_EQ(Read({L"-installdir", L"D:\\"}).installDir, L"");
    EXPECT_EQ(Read({L"-uninstall", L""}).requestedPass, L"uninstall");
}

TEST(OptionWalk, SwitchesTakeAnyValueUnderThePairRules)
{
    Options options = Read({L"-failOnError", L"", L"-echo", L"no", L"-Post_install", L"1"});
    EXPECT_TRUE(options.failOnError);
    EXPECT_TRUE(options.echo);
    EXPECT_EQ(options.requestedPass, L"Post_install");

    // A switch without its value, as a value, or in other letters is not read.
    options = Read({L"-installDir", L"-echo", L"-Post_install", L"1", L"-failOnError"});
    EXPECT_FALSE(options.failOnError);
    EXPECT_FALSE(options.echo);
    EXPECT_EQ(options.installDir, L"-echo");
    EXPECT_FALSE(Read({L"-failonerror", L"1", L"-Echo", L"1"}).failOnError);
    EXPECT_FALSE(Read({L"-failonerror", L"1", L"-Echo", L"1"}).echo);
}

} // namespace
