#include "shell/packages.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "shell/file_io.hpp"
#include "shell_test_support.hpp"

using namespace mvx::tool;
using mvx::test::bytesOfLength;
using mvx::test::readWholeFile;
using mvx::test::ScratchInstall;
using mvx::test::writeWholeFile;
namespace fs = std::filesystem;

namespace {

std::uint32_t le(const std::string& bytes, std::size_t at, std::size_t width)
{
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < width; ++i)
        value |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + i])) << (8 * i);
    return value;
}

// A self-contained program put together by hand: image, members, trailer.
std::string selfContained(const std::string& image, const std::array<std::string, kPayloadMemberCount>& members)
{
    Trailer trailer;
    std::string file = image;
    for (std::size_t i = 0; i < kPayloadMemberCount; ++i) {
        trailer.sizes[i] = static_cast<std::uint32_t>(members[i].size());
        file += members[i];
    }
    return file + encodeTrailer(trailer);
}

bool isExecutable(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && (st.st_mode & S_IXUSR) != 0;
}

class Packages : public ::testing::Test {
protected:
    Packages() { fs::create_directories(where().workFolder); }
    const ShellLocations& where() const { return install.where; }
    std::string work(std::string_view member) const { return where().workFile(member); }
    std::vector<std::string> workFolderEntries() const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(where().workFolder))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    ScratchInstall install;
};

}  // namespace

// ---- trailer -------------------------------------------------------------------

TEST(Trailer, SizesSitAtTheirOffsetsLittleEndian)
{
    Trailer trailer;
    for (std::size_t i = 0; i < kPayloadMemberCount; ++i)
        trailer.sizes[i] = 0x01020300u + static_cast<std::uint32_t>(i);
    trailer.sizes[1] = 0xBEEF;
    const std::string bytes = encodeTrailer(trailer);
    ASSERT_EQ(bytes.size(), 82u);
    EXPECT_EQ(bytes.substr(0, 4), "MVXF");
    EXPECT_EQ(le(bytes, 4, 4), 0x01020300u);
    EXPECT_EQ(le(bytes, 8, 2), 0xBEEFu);
    EXPECT_EQ(le(bytes, 10, 4), 0x01020302u);   // hex image 1
    EXPECT_EQ(le(bytes, 26, 4), 0x01020306u);   // binary image
    EXPECT_EQ(le(bytes, 30, 4), 0x01020307u);   // HDCP key
    EXPECT_EQ(le(bytes, 34, 4), 0x01020308u);   // first 5310 LD file
    EXPECT_EQ(le(bytes, 50, 4), 0x0102030Cu);   // first 5312 LD file
    EXPECT_EQ(le(bytes, 78, 4), 0x01020313u);   // last serial-flash LD file
    EXPECT_EQ(decodeTrailer("image bytes" + bytes), trailer);
}

TEST(Trailer, FileWithoutMagicInItsLast82BytesHasNone)
{
    EXPECT_FALSE(decodeTrailer(std::string(81, 'x')));
    EXPECT_FALSE(decodeTrailer(std::string(200, 'x')));
    std::string shifted = std::string(10, 'x') + "MVXF" + std::string(78, '\0') + "!";
    EXPECT_FALSE(decodeTrailer(shifted));
}

// ---- unpacking the running program ----------------------------------------------------

TEST_F(Packages, UnpacksTheEngineAndSettingsExampleOfTheFormat)
{
    std::array<std::string, kPayloadMemberCount> members{};
    members[0] = bytesOfLength(217088, 1);
    members[1] = "[ad_setting]\n" + std::string(2605 - 13, 'k');
    const std::string image = bytesOfLength(40000, 2);
    const std::string program = selfContained(image, members);
    writeWholeFile(where().programPath, program);

    const PackageResult result = unpackSelf(where());
    ASSERT_TRUE(result.ok) << result.message;
    EXPECT_EQ(readWholeFile(work("ISP__PSI.dll")), members[0]);
    EXPECT_EQ(readWholeFile(work("ISP__PSI.ini")), members[1]);
    EXPECT_TRUE(fs::is_regular_file(work("binfile.bin")));
    EXPECT_EQ(fs::file_size(work("binfile.bin")), 0u);
    EXPECT_EQ(fs::file_size(work("hdcpkey.bin")), 0u);
    const std::string exe = readWholeFile(work("ISP__PSI.exe"));
    EXPECT_EQ(exe.size(), program.size() - 82 - 219693);
    EXPECT_EQ(exe, image);
    EXPECT_TRUE(isExecutable(work("ISP__PSI.exe")));
    EXPECT_EQ(workFolderEntries(),
              (std::vector<std::string>{"ISP__PSI.dll", "ISP__PSI.exe", "ISP__PSI.ini", "binfile.bin",
                                        "hdcpkey.bin"}));
}

TEST_F(Packages, EveryMemberLandsUnderItsOwnNameInPayloadOrder)
{
    std::array<std::string, kPayloadMemberCount> members{};
    for (std::size_t i = 0; i < kPayloadMemberCount; ++i)
        members[i] = i % 5 == 3 ? std::string() : bytesOfLength(100 + 37 * i, static_cast<unsigned>(i));
    writeWholeFile(where().programPath, selfContained("ELF....", members));

    ASSERT_TRUE(unpackSelf(where()).ok);
    for (std::size_t i = 0; i < kPayloadMemberCount; ++i) {
        const std::string path = work(kPayloadMembers[i]);
        if (members[i].empty() && i != 0 && i != 1 && i != 6 && i != 7)
            EXPECT_FALSE(fs::exists(path)) << kPayloadMembers[i];
        else
            EXPECT_EQ(readWholeFile(path), members[i]) << kPayloadMembers[i];
    }
    EXPECT_EQ(readWholeFile(work("ISP__PSI.exe")), "ELF....");
}

TEST_F(Packages, TrailerWhoseSizesExceedTheFileIsRefused)
{
    std::array<std::string, kPayloadMemberCount> members{};
    members[0] = bytesOfLength(1000, 3);
    std::string program = selfContained("img", members);
    // Claim one byte more for the settings than the file holds.
    program[program.size() - 82 + 8] = 4;
    writeWholeFile(where().programPath, program);

    const PackageResult result = unpackSelf(where());
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.message.find("damaged"), std::string::npos) << result.message;
    EXPECT_TRUE(workFolderEntries().empty());
}

TEST_F(Packages, HugeSizesInATrailerAreRefusedWithoutWrapping)
{
    Trailer trailer;
    trailer.sizes[0] = 0xFFFFFFFFu;
    trailer.sizes[2] = 0xFFFFFFFFu;
    writeWholeFile(where().programPath, "img" + encodeTrailer(trailer));
    EXPECT_FALSE(unpackSelf(where()).ok);
    EXPECT_TRUE(workFolderEntries().empty());
}

TEST_F(Packages, PlainProgramTakesTheEngineBesideIt)
{
    const std::string engine = bytesOfLength(5000, 4);
    writeWholeFile(install.root.file("bin/libMVXISP.so"), engine);
    writeWholeFile(where().programPath, "plain program");

    ASSERT_TRUE(unpackSelf(where()).ok);
    EXPECT_EQ(readWholeFile(work("ISP__PSI.dll")), engine);
    EXPECT_EQ(readWholeFile(work("ISP__PSI.exe")), "plain program");
    EXPECT_FALSE(fs::exists(work("ISP__PSI.ini")));
}

TEST_F(Packages, PlainProgramInBinTakesTheEngineFromLibBesideIt)
{
    fs::create_directories(install.root.file("lib"));
    writeWholeFile(install.root.file("lib/libMVXISP.so"), "engine in lib");
    writeWholeFile(where().programPath, "plain program");

    ASSERT_TRUE(unpackSelf(where()).ok);
    EXPECT_EQ(readWholeFile(work("ISP__PSI.dll")), "engine in lib");
}

TEST_F(Packages, PlainProgramKeepsAnEngineCopyAlreadyInTheWorkFolder)
{
    writeWholeFile(work("ISP__PSI.dll"), "kept copy");
    writeWholeFile(where().programPath, "plain program");
    ASSERT_TRUE(unpackSelf(where()).ok);
    EXPECT_EQ(readWholeFile(work("ISP__PSI.dll")), "kept copy");
}

TEST_F(Packages, PlainProgramWithoutAnyEngineFails)
{
    writeWholeFile(where().programPath, "plain program");
    const PackageResult result = unpackSelf(where());
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.message, "There is no dll file!");
    EXPECT_TRUE(workFolderEntries().empty());
}

// ---- repacking ---------------------------------------------------------------------------

TEST_F(Packages, RepackWithFilesRecordsEveryMemberInTrailerOrder)
{
    writeWholeFile(work("ISP__PSI.exe"), "program image");
    writeWholeFile(work("ISP__PSI.dll"), "engine");
    writeWholeFile(work("ISP__PSI.ini"), "[Setting]\nmcu=2\n");
    writeWholeFile(work("hexfile3"), "third image");
    writeWholeFile(work("hdcpkey.bin"), "key");
    writeWholeFile(work("SFfile4"), "last ld");
    const std::string target = install.root.file("delivered");

    ASSERT_TRUE(repackTo(work("ISP__PSI.exe"), target, true).ok);
    const std::string file = readWholeFile(target);
    const auto trailer = decodeTrailer(file);
    ASSERT_TRUE(trailer);
    Trailer expected;
    expected.sizes[0] = 6;
    expected.sizes[1] = 16;
    expected.sizes[4] = 11;
    expected.sizes[7] = 3;
    expected.sizes[19] = 7;
    EXPECT_EQ(*trailer, expected);
    EXPECT_EQ(file.substr(0, file.size() - 82),
              "program image" "engine" "[Setting]\nmcu=2\n" "third image" "key" "last ld");
    EXPECT_TRUE(isExecutable(target));
}

TEST_F(Packages, RepackWithoutFilesKeepsOnlyEngineAndSettings)
{
    writeWholeFile(work("ISP__PSI.exe"), "image");
    writeWholeFile(work("ISP__PSI.dll"), "engine");
    writeWholeFile(work("hexfile1"), "left out");
    const std::string target = install.root.file("delivered");

    ASSERT_TRUE(repackTo(work("ISP__PSI.exe"), target, false).ok);
    const std::string file = readWholeFile(target);
    Trailer expected;
    expected.sizes[0] = 6;
    EXPECT_EQ(decodeTrailer(file), expected);
    EXPECT_EQ(file.size(), 5u + 6u + 82u);
}

TEST_F(Packages, RepackThenUnpackGivesTheSameImageEveryTime)
{
    const std::string image = bytesOfLength(70000, 5);
    const std::string engine = bytesOfLength(217088, 6);
    writeWholeFile(install.root.file("bin/libMVXISP.so"), engine);
    writeWholeFile(where().programPath, image);

    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(emptyFolder(where().workFolder));
        ASSERT_TRUE(unpackSelf(where()).ok) << round;
        EXPECT_EQ(readWholeFile(work("ISP__PSI.exe")), image) << round;
        EXPECT_EQ(readWholeFile(work("ISP__PSI.dll")), engine) << round;
        writeWholeFile(work("ISP__PSI.ini"), "[Setting]\nround=" + std::to_string(round) + "\n");
        writeWholeFile(work("hexfile2"), bytesOfLength(300, static_cast<unsigned>(round)));
        ASSERT_TRUE(repackTo(work("ISP__PSI.exe"), where().programPath, true).ok) << round;
    }
    const std::string program = readWholeFile(where().programPath);
    EXPECT_EQ(program.size(), image.size() + engine.size() + 18 + 300 + 82);
    EXPECT_EQ(program.substr(0, image.size()), image);
}

TEST_F(Packages, RunningProgramThatCarriesAPayloadContributesOnlyItsImage)
{
    std::array<std::string, kPayloadMemberCount> old{};
    old[0] = "old engine";
    writeWholeFile(work("ISP__PSI.exe"), selfContained("image", old));
    writeWholeFile(work("ISP__PSI.dll"), "new engine");
    const std::string target = install.root.file("delivered");
    ASSERT_TRUE(repackTo(work("ISP__PSI.exe"), target, true).ok);
    const std::string file = readWholeFile(target);
    EXPECT_EQ(file.substr(0, file.size() - 82), "imagenew engine");
}

TEST_F(Packages, RepackWithoutEngineLeavesTheTargetAsItWas)
{
    writeWholeFile(work("ISP__PSI.exe"), "image");
    const std::string target = install.root.file("delivered");
    writeWholeFile(target, "the program as it was");

    const PackageResult result = repackTo(work("ISP__PSI.exe"), target, true);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.message, "dll file do not exist");
    EXPECT_EQ(readWholeFile(target), "the program as it was");
}

TEST_F(Packages, RepackWithoutTheRunningProgramSaysSo)
{
    writeWholeFile(work("ISP__PSI.dll"), "engine");
    const std::string target = install.root.file("delivered");
    writeWholeFile(target, "unchanged");
    const PackageResult result = repackTo(work("ISP__PSI.exe"), target, true);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.message, "exe file do not exist");
    EXPECT_EQ(readWholeFile(target), "unchanged");
}

TEST_F(Packages, SettingsOf65536BytesCannotBePacked)
{
    writeWholeFile(work("ISP__PSI.exe"), "image");
    writeWholeFile(work("ISP__PSI.dll"), "engine");
    writeWholeFile(work("ISP__PSI.ini"), std::string(65536, ';'));
    const std::string target = install.root.file("delivered");
    writeWholeFile(target, "unchanged");

    const PackageResult result = repackTo(work("ISP__PSI.exe"), target, true);
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.message.find("ISP__PSI.ini"), std::string::npos) << result.message;
    EXPECT_NE(result.message.find("65536"), std::string::npos) << result.message;
    EXPECT_EQ(readWholeFile(target), "unchanged");
    for (const auto& entry : fs::directory_iterator(install.root.path()))
        EXPECT_EQ(entry.path().filename().string().find("delivered.tmp"), std::string::npos);
}

TEST_F(Packages, SettingsOf65535BytesStillFit)
{
    writeWholeFile(work("ISP__PSI.exe"), "image");
    writeWholeFile(work("ISP__PSI.dll"), "engine");
    writeWholeFile(work("ISP__PSI.ini"), std::string(65535, ';'));
    const std::string target = install.root.file("delivered");
    ASSERT_TRUE(repackTo(work("ISP__PSI.exe"), target, false).ok);
    EXPECT_EQ(decodeTrailer(readWholeFile(target))->sizes[1], 65535u);
}

TEST_F(Packages, ReadOnlyTargetIsReplacedAndKeepsItsPermissions)
{
    writeWholeFile(work("ISP__PSI.exe"), "image");
    writeWholeFile(work("ISP__PSI.dll"), "engine");
    const std::string target = install.root.file("delivered");
    writeWholeFile(target, "old");
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_exec);
    ASSERT_TRUE(repackTo(work("ISP__PSI.exe"), target, true).ok);
    EXPECT_EQ(readWholeFile(target).substr(0, 11), "imageengine");
    EXPECT_EQ(fs::status(target).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_exec);
}
