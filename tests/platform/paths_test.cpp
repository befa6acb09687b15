#include "mvx/platform/paths.hpp"

#include <gtest/gtest.h>

#include <filesystem>

#include "temp_folder.hpp"

using namespace mvx::platform;
using mvx::test::ScopedEnv;
using mvx::test::TempFolder;

TEST(Paths, JoinUsesExactlyOneSeparator)
{
    EXPECT_EQ(joinPath("/a", "b"), "/a/b");
    EXPECT_EQ(joinPath("/a/", "b"), "/a/b");
    EXPECT_EQ(joinPath("/a", "/b"), "/a/b");
    EXPECT_EQ(joinPath("", "b"), "b");
}

TEST(Paths, AdapterLibrariesComeFromTheSystemFolderOverride)
{
    ScopedEnv dir("MVX_SYSTEM_DIR", "/opt/adapters");
    EXPECT_EQ(adapterLibraryFolder(), "/opt/adapters");
    EXPECT_EQ(adapterLibraryPath("MVXUSBDLL"), "/opt/adapters/MVXUSBDLL.so");
}

TEST(Paths, AdapterLibrariesDefaultUnderTheInstallPrefix)
{
    ScopedEnv dir("MVX_SYSTEM_DIR", nullptr);
    const std::string folder = adapterLibraryFolder();
    EXPECT_EQ(folder.substr(folder.size() - 11), "/lib/mvxisp");
    EXPECT_EQ(adapterLibraryPath("MVXIICDLL"), folder + "/MVXIICDLL.so");
}

TEST(Paths, WorkFolderKeepsItsNamesUnderEachProgramFilesChoice)
{
    {
        ScopedEnv pf("MVX_PROGRAM_FILES", "/pf");
        EXPECT_EQ(workFolder(), "/pf/Norvane/ISP Tool");
        EXPECT_EQ(ispfileFolder(), "/pf/Norvane/ISP Tool/ispfile");
        EXPECT_EQ(makerFolder(), "/pf/Norvane");
    }
    {
        ScopedEnv pf("MVX_PROGRAM_FILES", nullptr);
        ScopedEnv data("XDG_DATA_HOME", "/data");
        EXPECT_EQ(workFolder(), "/data/Norvane/ISP Tool");
    }
    {
        ScopedEnv pf("MVX_PROGRAM_FILES", nullptr);
        ScopedEnv data("XDG_DATA_HOME", nullptr);
        ScopedEnv home("HOME", "/home/op");
        EXPECT_EQ(programFilesFolder(), "/home/op/.local/share");
    }
}

TEST(Paths, MakeFoldersCreatesParentsAndReportsABlockingFile)
{
    TempFolder folder;
    EXPECT_TRUE(makeFolders(folder.file("a/b/c")));
    EXPECT_TRUE(std::filesystem::is_directory(folder.file("a/b/c")));
    EXPECT_TRUE(makeFolders(folder.file("a/b/c")));   // already there
    mvx::test::writeWholeFile(folder.file("file"), "x");
    std::string error;
    EXPECT_FALSE(makeFolders(folder.file("file/sub"), &error));
    EXPECT_NE(error.find("file/sub"), std::string::npos);
}

TEST(Paths, CurrentProgramIsThisTestBinary)
{
    const std::string self = currentProgramPath();
    ASSERT_FALSE(self.empty());
    EXPECT_TRUE(std::filesystem::exists(self));
    EXPECT_NE(self.find("platform_test"), std::string::npos);
}
