#include <gtest/gtest.h>

#include <filesystem>

#include "mvx/platform/ini.hpp"
#include "shell/packages.hpp"
#include "shell_test_support.hpp"

using namespace mvx::tool;
using mvx::platform::readProfileInt;
using mvx::platform::readProfileString;
using mvx::test::readWholeFile;
using mvx::test::ScratchInstall;
using mvx::test::ScriptedUi;
using mvx::test::writeWholeFile;
namespace fs = std::filesystem;

namespace {

std::string le(std::uint32_t value, std::size_t width)
{
    std::string out;
    for (std::size_t i = 0; i < width; ++i)
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    return out;
}

// An exported ISP file put together by hand.
std::string rsp(const std::string& ini, const std::vector<std::string>& chunks)
{
    std::string file = "MVXF" + le(static_cast<std::uint32_t>(ini.size()), 2) + ini;
    for (const std::string& chunk : chunks)
        file += le(static_cast<std::uint32_t>(chunk.size()), 4) + chunk;
    return file + "MVXF";
}

struct ParsedRsp {
    std::string settings;
    std::vector<std::string> chunks;
};

ParsedRsp parse(const std::string& file, int chunkCount)
{
    ParsedRsp parsed;
    EXPECT_EQ(file.substr(0, 4), "MVXF");
    EXPECT_EQ(file.substr(file.size() - 4), "MVXF");
    std::size_t at = 4;
    const auto read = [&](std::size_t width) {
        std::uint32_t n = 0;
        for (std::size_t i = 0; i < width; ++i)
            n |= static_cast<std::uint32_t>(static_cast<unsigned char>(file[at + i])) << (8 * i);
        at += width;
        std::string chunk = file.substr(at, n);
        at += n;
        return chunk;
    };
    parsed.settings = read(2);
    for (int i = 0; i < chunkCount; ++i)
        parsed.chunks.push_back(read(4));
    EXPECT_EQ(at, file.size() - 4);
    return parsed;
}

class IspFiles : public ::testing::Test {
protected:
    IspFiles()
    {
        fs::create_directories(where().ispfileFolder);
        for (int i = 1; i <= 4; ++i)
            writeWholeFile(where().workFile("hexfile" + std::to_string(i)), "image " + std::to_string(i));
        writeWholeFile(where().workFile("binfile.bin"), "whole image");
    }
    const ShellLocations& where() const { return install.where; }
    std::string ispfile(const std::string& name) const { return where().ispfileFolder + "/" + name; }
    std::vector<std::string> ispfileEntries() const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(where().ispfileFolder))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    IspJob hexJob(int filecheck) const
    {
        IspJob job;
        job.mcu = 1;
        job.options = modeDefaults(1);
        job.options.filecheck = filecheck;
        job.options.ex_size = 9;
        job.names.hex = {"boot.hex", "main.hex", "data.hex", "ext.hex"};
        job.names.ld[1] = {"m1_0.ld", "m1_1.ld", "m2_0.ld", "m2_1.ld"};
        return job;
    }
    UnpackedIspFile unpack(const std::string& file)
    {
        const std::string path = install.root.file("job.rsp");
        writeWholeFile(path, file);
        return unpackIspFile(path, where().ispfileFolder);
    }

    ScratchInstall install;
};

}  // namespace

// ---- writing -----------------------------------------------------------------------

TEST(IspFileName, RspIsAppendedUnlessTheNameEndsInDotRsp)
{
    EXPECT_EQ(withIspFileExtension("/jobs/line7"), "/jobs/line7.rsp");
    EXPECT_EQ(withIspFileExtension("/jobs/line7.rsp"), "/jobs/line7.rsp");
    EXPECT_EQ(withIspFileExtension("/jobs/line7.RSP"), "/jobs/line7.RSP");
    EXPECT_EQ(withIspFileExtension("/jobs/line7rsp"), "/jobs/line7rsp.rsp");
}

TEST_F(IspFiles, HexJobWithImagesOneAndThreeCarriesOnlyThose)
{
    const std::string path = install.root.file("job.rsp");
    const PackageResult result = writeIspFile(path, hexJob(0b0101), where());
    ASSERT_TRUE(result.ok) << result.message;
    EXPECT_EQ(result.message, "Export isp file success!");

    const ParsedRsp parsed = parse(readWholeFile(path), 4);
    EXPECT_EQ(parsed.chunks, (std::vector<std::string>{"image 1", "", "image 3", ""}));
    EXPECT_EQ(parsed.settings, readWholeFile(ispfile("ISP__PSI.ini")));
    const std::string ini = ispfile("ISP__PSI.ini");
    EXPECT_EQ(readProfileInt(ini, "Setting", "mcu", -1), 1);
    EXPECT_EQ(readProfileInt(ini, "Setting", "filecheck", -1), 5);
    EXPECT_EQ(readProfileInt(ini, "Setting", "ex_size", -1), 9);
    EXPECT_EQ(readProfileInt(ini, "Setting", "ispaddr", -1), 1);
    EXPECT_EQ(readProfileInt(ini, "Setting", "ispfiletype", -1), 0);
    EXPECT_EQ(readProfileString(ini, "Saved_HEX", "hexfile1", "?"), "boot.hex");
    EXPECT_EQ(readProfileString(ini, "Saved_HEX", "hexfile2", "?"), "");
    EXPECT_EQ(readProfileString(ini, "Saved_HEX", "hexfile3", "?"), "data.hex");
    EXPECT_EQ(readProfileString(ini, "Saved_HEX", "hexfile4", "?"), "");
    EXPECT_EQ(readProfileString(ini, "Saved_HEX", "5312file3", "?"), "m2_0.ld");
    EXPECT_EQ(readProfileString(ini, "Saved_HEX", "SFfile1", "?"), "");
}

TEST_F(IspFiles, BinaryJobCarriesOneChunk)
{
    IspJob job;
    job.mcu = 2;
    job.options = modeDefaults(2);
    job.options.ispfiletype = 1;
    job.options.filecheck = 1;
    job.names.bin = "panel.bin";
    const std::string path = install.root.file("bin.rsp");
    ASSERT_TRUE(writeIspFile(path, job, where()).ok);
    const ParsedRsp parsed = parse(readWholeFile(path), 1);
    EXPECT_EQ(parsed.chunks, std::vector<std::string>{"whole image"});
    EXPECT_EQ(readProfileString(ispfile("ISP__PSI.ini"), "Saved_BIN", "binfile.bin", "?"), "panel.bin");
}

TEST_F(IspFiles, SettingsTooLargeForTheLengthFieldAreRefused)
{
    writeWholeFile(ispfile("ISP__PSI.ini"), "; " + std::string(70000, 'x') + "\n");
    const std::string path = install.root.file("job.rsp");
    const PackageResult result = writeIspFile(path, hexJob(1), where());
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.message.find("65535"), std::string::npos) << result.message;
    EXPECT_FALSE(fs::exists(path));
}

// ---- the Export ISP File command ------------------------------------------------------

TEST_F(IspFiles, ExportToANameWithoutExtensionWritesDotRsp)
{
    ScriptedUi ui;
    ui.saveChoices.push_back(install.root.file("line7"));
    int prepared = 0;
    EXPECT_TRUE(exportIspFile(ui, where(), [&] {
        ++prepared;
        return hexJob(1);
    }));
    EXPECT_EQ(prepared, 1);
    EXPECT_TRUE(fs::exists(install.root.file("line7.rsp")));
    EXPECT_FALSE(fs::exists(install.root.file("line7")));
    ASSERT_EQ(ui.saveFilters.size(), 1u);
    EXPECT_EQ(ui.saveFilters[0].description, "rsp Files");
    EXPECT_EQ(ui.saveFilters[0].extension, "rsp");
    EXPECT_EQ(ui.messageTexts(), std::vector<std::string>{"Export isp file success!"});
}

TEST_F(IspFiles, ExportAsksBeforeOverwritingNoAsksAgainAndCancelEnds)
{
    const std::string existing = install.root.file("old.rsp");
    writeWholeFile(existing, "keep me");
    ScriptedUi ui;
    ui.saveChoices = {existing, install.root.file("old")};
    ui.answers = {Answer::No, Answer::Cancel};
    EXPECT_FALSE(exportIspFile(ui, where(), [&] {
        ADD_FAILURE() << "nothing is prepared when the export is cancelled";
        return IspJob{};
    }));
    ASSERT_EQ(ui.questions.size(), 2u);
    EXPECT_EQ(ui.questions[0].text, "The file you selected is exist. Do you want to overwrite it?");
    EXPECT_EQ(ui.questions[0].caption, "Confirm");
    EXPECT_EQ(readWholeFile(existing), "keep me");
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(IspFiles, ExportOverwritesAfterYes)
{
    const std::string existing = install.root.file("old.rsp");
    writeWholeFile(existing, "replace me");
    ScriptedUi ui;
    ui.saveChoices = {existing};
    ui.answers = {Answer::Yes};
    EXPECT_TRUE(exportIspFile(ui, where(), [&] { return hexJob(2); }));
    EXPECT_EQ(parse(readWholeFile(existing), 4).chunks[1], "image 2");
}

TEST_F(IspFiles, CancelledPickerWritesNothing)
{
    ScriptedUi ui;
    ui.saveChoices = {std::nullopt};
    EXPECT_FALSE(exportIspFile(ui, where(), [] { return IspJob{}; }));
    EXPECT_TRUE(ui.messages.empty());
}

// ---- reading ---------------------------------------------------------------------------

TEST_F(IspFiles, ExportedJobUnpacksUnderItsFileNames)
{
    const std::string path = install.root.file("job.rsp");
    ASSERT_TRUE(writeIspFile(path, hexJob(0b0101), where()).ok);
    writeWholeFile(ispfile("stale.hex"), "from an earlier load");

    const UnpackedIspFile result = unpackIspFile(path, where().ispfileFolder);
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.mcu, 1);
    EXPECT_EQ(result.ispfiletype, 0);
    EXPECT_EQ(ispfileEntries(), (std::vector<std::string>{"ISP__PSI.ini", "boot.hex", "data.hex"}));
    EXPECT_EQ(readWholeFile(ispfile("boot.hex")), "image 1");
    EXPECT_EQ(readWholeFile(ispfile("data.hex")), "image 3");
    EXPECT_EQ(result.images, (std::vector<std::string>{ispfile("boot.hex"), "", ispfile("data.hex"), ""}));
}

TEST_F(IspFiles, BinaryImageIsWrittenEvenWhenEmpty)
{
    const auto result = unpack(rsp("[Setting]\nmcu=2\nispfiletype=1\n[Saved_BIN]\nbinfile.bin=panel.bin\n", {""}));
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.ispfiletype, 1);
    EXPECT_TRUE(fs::is_regular_file(ispfile("panel.bin")));
    EXPECT_EQ(fs::file_size(ispfile("panel.bin")), 0u);
    EXPECT_EQ(result.images, std::vector<std::string>{""}) << "an empty chunk is an absent image";
}

TEST_F(IspFiles, BinaryJobWithoutImageOrNameLoads)
{
    const auto result = unpack(rsp("[Setting]\nmcu=5\nispfiletype=1\n[Saved_BIN]\nbinfile.bin=\n", {""}));
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(ispfileEntries(), std::vector<std::string>{"ISP__PSI.ini"});
}

TEST_F(IspFiles, MissingFileIsRefusedAndTheFolderEmptied)
{
    writeWholeFile(ispfile("stale.hex"), "old");
    const auto result = unpackIspFile(install.root.file("absent.rsp"), where().ispfileFolder);
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(ispfileEntries().empty());
}

TEST_F(IspFiles, MalformedFilesAreRefused)
{
    const std::string ini = "[Setting]\nmcu=0\n[Saved_HEX]\nhexfile1=a.hex\n";
    const std::string good = rsp(ini, {"aaaa", "", "", ""});
    ASSERT_TRUE(unpack(good).ok);

    const std::vector<std::pair<std::string, std::string>> cases{
        {"empty", ""},
        {"magic only", "MVXF"},
        {"two magics, nothing between", "MVXFMVXF"},
        {"no head magic", "XVXF" + good.substr(4)},
        {"no tail magic", good.substr(0, good.size() - 4) + "FXVM"},
        {"truncated in the images", good.substr(0, 40) + "MVXF"},
        {"settings longer than the file", "MVXF" + le(0xFFFF, 2) + ini + "MVXF"},
        {"image longer than the file", "MVXF" + le(static_cast<std::uint32_t>(ini.size()), 2) + ini +
                                           le(4, 4) + "aaaa" + le(0, 4) + le(0, 4) + le(0xFFFFFFF0u, 4) + "MVXF"},
        {"bytes after the last image", good.substr(0, good.size() - 4) + "junkMVXF"},
        {"unknown mode", rsp("[Setting]\nmcu=7\n", {"", "", "", ""})},
        {"unknown file type", rsp("[Setting]\nmcu=0\nispfiletype=2\n", {""})},
        {"image without a name", rsp("[Setting]\nmcu=0\n", {"data", "", "", ""})},
    };
    for (const auto& [what, bytes] : cases) {
        const auto result = unpack(bytes);
        EXPECT_FALSE(result.ok) << what;
        EXPECT_FALSE(result.error.empty()) << what;
        EXPECT_TRUE(ispfileEntries().empty()) << what;
    }
}

TEST_F(IspFiles, HostileNamesAreRefusedAndNothingIsWrittenOutside)
{
    const std::string outside = install.root.file("outside.hex");
    const std::vector<std::string> names{
        "../escaped.hex", "../../escaped.hex", "sub/inner.hex", outside, "..", ".", "a\\b.hex", "ISP__PSI.ini"};
    for (const std::string& name : names) {
        // Refused also without data: the name alone would lead out of the job.
        for (const std::string chunk : {"evil", ""}) {
            const auto result = unpack(rsp("[Setting]\nmcu=0\n[Saved_HEX]\nhexfile1=ok.hex\nhexfile2=" + name + "\n",
                                           {"good", chunk, "", ""}));
            EXPECT_FALSE(result.ok) << name << " " << chunk;
            EXPECT_TRUE(ispfileEntries().empty()) << name << " " << chunk;
        }
    }
    EXPECT_FALSE(fs::exists(outside));
    EXPECT_FALSE(fs::exists(where().workFile("escaped.hex")));
    EXPECT_FALSE(fs::exists(where().makerFolder + "/escaped.hex"));
}

TEST_F(IspFiles, TwoImagesUnderOneNameAreRefused)
{
    const auto result = unpack(rsp("[Setting]\nmcu=0\n[Saved_HEX]\nhexfile1=x.hex\nhexfile3=x.hex\n",
                                   {"first", "", "third", ""}));
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(ispfileEntries().empty());
}

TEST_F(IspFiles, EmptyImageDoesNotOverwriteAnotherOfTheSameName)
{
    const auto result = unpack(rsp("[Setting]\nmcu=0\n[Saved_HEX]\nhexfile1=x.hex\nhexfile2=x.hex\n",
                                   {"first", "", "", ""}));
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(readWholeFile(ispfile("x.hex")), "first");
}
