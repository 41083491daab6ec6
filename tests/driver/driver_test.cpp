#include "driver/driver.h"

#include "platform/os_calls.h"
#include "support/test_support.h"

#include <windows.h>

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

// An unattended run must never stop at a critical-error or fault box, and
// the registration tool it starts inherits whatever this mode is.
TEST(Driver, SuppressesErrorBoxesBeforeAnythingElse)
{
    ScopedOsOverride os;
    RedirectTempFolder(Os(), MakeScratchFolder(L"driver-temp"));
    const UINT saved = SetErrorMode(0);
    EXPECT_EQ(RunInstallerAction(L"a b"), 0);
    const UINT mode = GetErrorMode();
    SetErrorMode(saved);
    const UINT boxes = SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX;
    EXPECT_EQ(mode & boxes, boxes);
}

} // namespace
