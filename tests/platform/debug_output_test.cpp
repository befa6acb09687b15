#include "mvx/platform/debug_output.hpp"

#include <gtest/gtest.h>

#include "temp_folder.hpp"

using mvx::test::ScopedEnv;

TEST(DebugOutput, WritesOneLineOnlyWhenEnabled)
{
    {
        ScopedEnv debug("MVX_DEBUG", "1");
        testing::internal::CaptureStderr();
        mvx::platform::debugOutput("InitFTDI open suc");
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "[mvx] InitFTDI open suc\n");
    }
    for (const char* value : {static_cast<const char*>(nullptr), "0", "yes", ""}) {
        ScopedEnv debug("MVX_DEBUG", value);
        testing::internal::CaptureStderr();
        mvx::platform::debugOutput("debug write fail");
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << (value ? value : "(unset)");
    }
}
