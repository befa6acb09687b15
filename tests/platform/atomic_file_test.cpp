#include "mvx/platform/atomic_file.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "temp_folder.hpp"

using mvx::platform::replaceFileAtomically;
using mvx::test::readWholeFile;
using mvx::test::TempFolder;
using mvx::test::writeWholeFile;

namespace {

std::size_t filesIn(const std::string& folder)
{
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder))
        ++count;
    return count;
}

}  // namespace

TEST(AtomicFile, CreatesAndReplacesBinaryContentKeepingPermissions)
{
    TempFolder folder;
    const std::string path = folder.file("flash.bin");
    const std::string image("\x00\xFF\x10\x00tail", 8);
    ASSERT_FALSE(replaceFileAtomically(path, image).has_value());
    EXPECT_EQ(readWholeFile(path), image);

    ::chmod(path.c_str(), 0640);
    ASSERT_FALSE(replaceFileAtomically(path, "second").has_value());
    EXPECT_EQ(readWholeFile(path), "second");
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(filesIn(folder.path()), 1u);   // no temporary file left
}

TEST(AtomicFile, FailureNamesTheFileAndLeavesTheTargetAlone)
{
    TempFolder folder;
    std::filesystem::create_directory(folder.file("a folder"));
    auto error = replaceFileAtomically(folder.file("a folder"), "x", "state file");
    ASSERT_TRUE(error.has_value());
    EXPECT_NE(error->find("cannot write state file"), std::string::npos) << *error;
    EXPECT_NE(error->find("a folder"), std::string::npos);
    EXPECT_TRUE(std::filesystem::is_directory(folder.file("a folder")));

    error = replaceFileAtomically(folder.file("missing/flash.bin"), "x");
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(filesIn(folder.path()), 1u);
    EXPECT_TRUE(replaceFileAtomically("", "x").has_value());
}
