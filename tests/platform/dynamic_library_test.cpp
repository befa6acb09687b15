#include "mvx/platform/dynamic_library.hpp"

#include <gtest/gtest.h>

#include <utility>

using mvx::platform::DynamicLibrary;

TEST(DynamicLibrary, ResolvesFunctionsAndDataOfALoadedLibrary)
{
    DynamicLibrary library;
    ASSERT_TRUE(library.open(MVX_TEST_PLUGIN)) << library.error();
    auto answer = library.function<int (*)(int)>("mvx_test_answer");
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(20), 41);
    EXPECT_STREQ(static_cast<const char*>(library.symbol("mvx_test_marker")), "plugin");
}

TEST(DynamicLibrary, MissingSymbolGivesNullAndAReason)
{
    DynamicLibrary library;
    ASSERT_TRUE(library.open(MVX_TEST_PLUGIN));
    EXPECT_EQ(library.symbol("no_such_export"), nullptr);
    EXPECT_FALSE(library.error().empty());
    EXPECT_EQ(library.symbol(nullptr), nullptr);
}

TEST(DynamicLibrary, MissingOrInvalidFileFailsCleanly)
{
    DynamicLibrary library;
    EXPECT_FALSE(library.open("/nonexistent/libnothing.so"));
    EXPECT_FALSE(library.isOpen());
    EXPECT_NE(library.error().find("libnothing"), std::string::npos);
    EXPECT_FALSE(library.open(""));
    EXPECT_FALSE(library.open("/etc/hostname"));   // not a shared object
    EXPECT_EQ(library.symbol("mvx_test_answer"), nullptr);
}

TEST(DynamicLibrary, MoveTransfersOwnershipAndCloseForgetsSymbols)
{
    DynamicLibrary first;
    ASSERT_TRUE(first.open(MVX_TEST_PLUGIN));
    DynamicLibrary second(std::move(first));
    EXPECT_FALSE(first.isOpen());   // NOLINT(bugprone-use-after-move): moved-from state is defined
    EXPECT_TRUE(second.isOpen());
    EXPECT_NE(second.symbol("mvx_test_answer"), nullptr);
    second.close();
    EXPECT_FALSE(second.isOpen());
    EXPECT_EQ(second.symbol("mvx_test_answer"), nullptr);
    second.close();   // closing twice is harmless
}
