#include "mvx/platform/registry.hpp"

#include <gtest/gtest.h>

#include <filesystem>

#include "temp_folder.hpp"

using mvx::platform::kCustomerToolKey;
using mvx::platform::kDebugToolKey;
using mvx::platform::kIspTitleValue;
using mvx::platform::kToolVersionValue;
using mvx::platform::RegistryStore;
using mvx::test::readWholeFile;
using mvx::test::ScopedEnv;
using mvx::test::TempFolder;
using mvx::test::writeWholeFile;

// ---- where the store lives ----

TEST(RegistryLocation, EnvironmentOverrideWins)
{
    ScopedEnv reg("MVX_REGISTRY", "/some/where/reg.ini");
    EXPECT_EQ(RegistryStore::defaultPath(), "/some/where/reg.ini");
}

TEST(RegistryLocation, DefaultsUnderTheConfigFolder)
{
    ScopedEnv reg("MVX_REGISTRY", nullptr);
    ScopedEnv config("XDG_CONFIG_HOME", "/cfg");
    EXPECT_EQ(RegistryStore::defaultPath(), "/cfg/Norvane/registry.ini");
}

// ---- values ----

TEST(RegistryValues, MissingStoreKeyOrValueReadsAsAbsent)
{
    TempFolder folder;
    RegistryStore store(folder.file("none/registry.ini"));
    EXPECT_FALSE(store.readDword(kDebugToolKey, kToolVersionValue).has_value());
    EXPECT_FALSE(store.readString(kDebugToolKey, kIspTitleValue).has_value());
    EXPECT_FALSE(store.keyExists(kDebugToolKey));
}

TEST(RegistryValues, DwordRoundTripAndKeysStaySeparate)
{
    TempFolder folder;
    RegistryStore store(folder.file("Norvane/registry.ini"));
    ASSERT_FALSE(store.writeDword(kDebugToolKey, kToolVersionValue, 100).has_value());
    ASSERT_FALSE(store.writeDword(kCustomerToolKey, kToolVersionValue, 0xFFFFFFFFu).has_value());
    EXPECT_EQ(store.readDword(kDebugToolKey, kToolVersionValue), 100u);
    EXPECT_EQ(store.readDword(kCustomerToolKey, kToolVersionValue), 0xFFFFFFFFu);
    // The store's folder was created, and the file names both keys.
    const std::string text = readWholeFile(store.path());
    EXPECT_NE(text.find("[NorVane DebugTool Configuration Parameters]"), std::string::npos);
    EXPECT_NE(text.find("MVXTool Version=dword:00000064"), std::string::npos);
}

TEST(RegistryValues, TitleKeepsBlanksQuotesAndLength)
{
    TempFolder folder;
    RegistryStore store(folder.file("registry.ini"));
    const std::string title = "  My \"line 3\" tool " + std::string(300, 'x') + "  ";
    ASSERT_FALSE(store.writeString(kDebugToolKey, kIspTitleValue, title).has_value());
    EXPECT_EQ(store.readString(kDebugToolKey, kIspTitleValue), title);
}

TEST(RegistryValues, HandEditedDecimalIsAcceptedAndJunkIsNotANumber)
{
    TempFolder folder;
    const std::string path = folder.file("registry.ini");
    writeWholeFile(path,
                   "[NorVane DebugTool Configuration Parameters]\nMVXTool Version=99\n"
                   "[NorVane Customer Tool Configuration Parameters]\nMVXTool Version=abc\n");
    RegistryStore store(path);
    EXPECT_EQ(store.readDword(kDebugToolKey, kToolVersionValue), 99u);
    EXPECT_FALSE(store.readDword(kCustomerToolKey, kToolVersionValue).has_value());
}

TEST(RegistryValues, TextWithALineBreakIsRefusedAndStoreUnchanged)
{
    TempFolder folder;
    RegistryStore store(folder.file("registry.ini"));
    ASSERT_FALSE(store.writeString(kDebugToolKey, kIspTitleValue, "first").has_value());
    const std::string before = readWholeFile(store.path());
    EXPECT_TRUE(store.writeString(kDebugToolKey, kIspTitleValue, "two\nlines").has_value());
    EXPECT_EQ(readWholeFile(store.path()), before);
}

// ---- keys ----

TEST(RegistryKeys, CreateKeyMakesAnEmptyKeyOnceAndKeepsValues)
{
    TempFolder folder;
    RegistryStore store(folder.file("sub/registry.ini"));
    ASSERT_FALSE(store.createKey(kCustomerToolKey).has_value());
    EXPECT_TRUE(store.keyExists(kCustomerToolKey));
    EXPECT_FALSE(store.readDword(kCustomerToolKey, kToolVersionValue).has_value());
    ASSERT_FALSE(store.writeDword(kCustomerToolKey, kToolVersionValue, 7).has_value());
    ASSERT_FALSE(store.createKey(kCustomerToolKey).has_value());
    EXPECT_EQ(store.readDword(kCustomerToolKey, kToolVersionValue), 7u);
}

TEST(RegistryKeys, UnwritableLocationIsReported)
{
    TempFolder folder;
    writeWholeFile(folder.file("blocker"), "a file where a folder should be");
    RegistryStore store(folder.file("blocker/registry.ini"));
    EXPECT_TRUE(store.writeDword(kDebugToolKey, kToolVersionValue, 1).has_value());
    EXPECT_TRUE(store.createKey(kDebugToolKey).has_value());
}
