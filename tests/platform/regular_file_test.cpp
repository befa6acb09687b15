// Reading user-named files: anything but a regular file within its limit is
// refused at once with a reason that says what it is, and never blocks.
#include "mvx/platform/regular_file.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>

#include "temp_folder.hpp"

namespace mvx::platform {
namespace {

using test::TempFolder;

struct Case {
    const char* name;
    std::function<std::string(const TempFolder&)> make;   // makes the path to read
    std::uint64_t limit;
    FileFault fault;
    const char* message;
    std::size_t bytes;    // bytes read when ok
};

std::string withFile(const TempFolder& folder, std::size_t size)
{
    test::writeWholeFile(folder.file("f"), std::string(size, 'x'));
    return folder.file("f");
}

const Case kCases[] = {
    {"RegularFile", [](const TempFolder& f) { return withFile(f, 100); }, 100, FileFault::None, "", 100},
    {"EmptyFile", [](const TempFolder& f) { return withFile(f, 0); }, 100, FileFault::None, "", 0},
    {"OverTheLimit", [](const TempFolder& f) { return withFile(f, 70000); }, 65536, FileFault::TooLarge,
     "is too large (70000 bytes, at most 65536)", 0},
    {"Missing", [](const TempFolder& f) { return f.file("none.hex"); }, 100, FileFault::Missing,
     "does not exist", 0},
    {"BelowAFile", [](const TempFolder& f) { return withFile(f, 1) + "/x"; }, 100, FileFault::Missing,
     "does not exist", 0},
    {"NamedPipe",
     [](const TempFolder& f) {
         ::mkfifo(f.file("pipe").c_str(), 0600);
         return f.file("pipe");
     },
     100, FileFault::NotRegular, "is a named pipe, not a file", 0},
    {"LinkToNamedPipe",
     [](const TempFolder& f) {
         ::mkfifo(f.file("pipe").c_str(), 0600);
         std::filesystem::create_symlink(f.file("pipe"), f.file("link.hex"));
         return f.file("link.hex");
     },
     100, FileFault::NotRegular, "is a named pipe, not a file", 0},
    {"Folder", [](const TempFolder& f) { return f.path(); }, 100, FileFault::NotRegular,
     "is a folder, not a file", 0},
    {"DevZero", [](const TempFolder&) { return std::string("/dev/zero"); }, 100, FileFault::NotRegular,
     "is a device, not a file", 0},
    {"DevNull", [](const TempFolder&) { return std::string("/dev/null"); }, 100, FileFault::NotRegular,
     "is a device, not a file", 0},
};

class RegularFile : public ::testing::TestWithParam<Case> {};

TEST_P(RegularFile, ReadAndCheckAgreeOnTheOutcome)
{
    const Case& c = GetParam();
    TempFolder folder;
    const std::string path = c.make(folder);
    const auto start = std::chrono::steady_clock::now();
    const FileBytes read = readRegularFile(path, c.limit);
    std::uint64_t size = 0;
    const FileProblem checked = checkRegularFile(path, c.limit, &size);
    // A pipe without a writer would hang a blocking open: this is a hang check.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));

    EXPECT_EQ(read.problem.fault, c.fault);
    EXPECT_EQ(read.problem.message(), c.message);
    EXPECT_EQ(checked.fault, c.fault);
    EXPECT_EQ(checked.message(), c.message);
    EXPECT_EQ(read.bytes.size(), c.bytes);
    if (c.fault == FileFault::None) {
        EXPECT_EQ(size, c.bytes);
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, RegularFile, ::testing::ValuesIn(kCases),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(RegularFileReasons, UnreadableFileNamesTheSystemReason)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads any file";
    TempFolder folder;
    const std::string path = withFile(folder, 10);
    ::chmod(path.c_str(), 0);
    const FileBytes read = readRegularFile(path, 100);
    EXPECT_EQ(read.problem.fault, FileFault::Unreadable);
    EXPECT_EQ(read.problem.message(), "cannot be read (Permission denied)");
}

}  // namespace
}  // namespace mvx::platform
