#include "text/message_inserts.h"

#include <gtest/gtest.h>

namespace {

TEST(MessageInserts, NameTheSubjectOrLeaveNoPlaceholder)
{
    EXPECT_EQ(FillMessageInserts(L"%1 is not a valid Win32 application", L"C:\\w\\regsvr32.exe"),
              L"C:\\w\\regsvr32.exe is not a valid Win32 application");
    EXPECT_EQ(FillMessageInserts(L"%1 is not a valid Win32 application", L""), L"is not a valid Win32 application");
    EXPECT_EQ(FillMessageInserts(L"The %1 application cannot be run in %2 mode", L"x"),
              L"The x application cannot be run in mode");
    EXPECT_EQ(FillMessageInserts(L"Access is denied, 100%", L"x"), L"Access is denied, 100%");
    EXPECT_EQ(FillMessageInserts(L"file %1!s! at %12", L"x"), L"file x at");
}

} // namespace
