// mvxisp run: exported ISP files (written by the shell's exporter) run as the
// assembly page runs them, on virtual boards and through the recording engine.
#include <gtest/gtest.h>

#include <filesystem>

#include "cli_process.hpp"
#include "shell/locations.hpp"
#include "shell/packages.hpp"
#include "shell/settings_store.hpp"

namespace mvx::test {
namespace {

class RunJob : public ::testing::Test {
protected:
    // Exports a job whose images are `images` (hex names "img1.hex" ... or one
    // binary "whole.bin") into scratch/name.
    std::string exportJob(const std::string& name, int mcu, tool::ModeOptions options,
                          const std::vector<std::string>& images)
    {
        const auto where = tool::ShellLocations::forFolders(exporter.file("tool"), exporter.file("pf"),
                                                            exporter.file("registry.ini"));
        std::filesystem::create_directories(where.workFolder);
        tool::IspJob job;
        job.mcu = mcu;
        job.options = options;
        if (options.ispfiletype == 0) {
            for (std::size_t i = 0; i < images.size(); ++i) {
                writeWholeFile(where.workFile("hexfile" + std::to_string(i + 1)), images[i]);
                job.names.hex[i] = "img" + std::to_string(i + 1) + ".hex";
            }
        } else {
            writeWholeFile(where.workFile("binfile.bin"), images.at(0));
            job.names.bin = "whole.bin";
        }
        const auto written = tool::writeIspFile(scratch.file(name), job, where);
        EXPECT_TRUE(written.ok) << written.message;
        return name;
    }
    // A serial-flash job over the IIC cable selecting the images of filecheck.
    static tool::ModeOptions serialFlashJob(int filecheck = 1)
    {
        tool::ModeOptions options = tool::modeDefaults(2);
        options.interface = 2;
        options.filecheck = filecheck;
        return options;
    }
    static tool::ModeOptions oneToFourJob()
    {
        tool::ModeOptions options = tool::modeDefaults(5);
        options.filecheck = 1;
        return options;
    }
    void writeStationSettings(const std::string& text)
    {
        const std::string folder = scratch.file("program-files/Norvane/ISP Tool");
        std::filesystem::create_directories(folder);
        writeWholeFile(folder + "/ISP__PSI.ini", text);
    }
    std::string file(const std::string& name, const std::string& bytes = "x")
    {
        writeWholeFile(scratch.file(name), bytes);
        return name;
    }

    TempFolder exporter;
    TempFolder scratch;
};

// ---- on the virtual board ----

TEST_F(RunJob, HexJobProgramsItsSelectedImages)
{
    BoardFolder board;
    const std::string banks[3] = {patternBytes(kBank, 1), patternBytes(kBank, 2), patternBytes(9000, 3)};
    const std::string job =
        exportJob("line.rsp", 2, serialFlashJob(7), {hexText(banks[0]), hexText(banks[1]), hexText(banks[2])});
    const Outcome result = runMvxisp({"run", job}, board.env(), scratch);
    ASSERT_EQ(result.status, 0) << result.err;
    const std::string flash = board.flash();
    EXPECT_TRUE(flash.substr(0, kBank) == banks[0]);
    EXPECT_TRUE(flash.substr(kBank, kBank) == banks[1]);
    EXPECT_TRUE(flash.substr(2 * kBank, banks[2].size()) == banks[2]);
    EXPECT_EQ(countOf(result.err, "Mode: SerialFlash\n"), 1);
    EXPECT_EQ(countOf(result.err, "Image 3 img3.hex: ChkSum "), 1) << result.err;
    EXPECT_EQ(result.errLines().back(), board.lastLine("Result 0: success"));
}

TEST_F(RunJob, BinaryJobProgramsTheBanksItsFilecheckSelects)
{
    BoardFolder board;
    const std::string image = patternBytes(3 * kBank, 4);
    tool::ModeOptions options = serialFlashJob(0b101);
    options.ispfiletype = 1;
    const Outcome result = runMvxisp({"run", exportJob("bin.rsp", 2, options, {image})}, board.env(), scratch);
    ASSERT_EQ(result.status, 0) << result.err;
    const std::string flash = board.flash();
    EXPECT_TRUE(flash.substr(0, kBank) == image.substr(0, kBank));
    EXPECT_EQ(flash.substr(kBank, kBank), std::string(kBank, '\xFF'));
    EXPECT_TRUE(flash.substr(2 * kBank, kBank) == image.substr(2 * kBank));
}

TEST_F(RunJob, LinkFailureIsReportedAsMcuLinkError)
{
    BoardFolder board("[board]\nlink=dead\n");
    const std::string job = exportJob("dead.rsp", 2, serialFlashJob(), {hexText(patternBytes(100, 1))});
    const Outcome result = runMvxisp({"run", job}, board.env(), scratch);
    EXPECT_EQ(result.status, 13);
    EXPECT_EQ(countOf(result.err, "\nMCU Link Error!\n"), 1) << result.err;
}

TEST_F(RunJob, UnpackedFilesAreRemovedAfterTheRun)
{
    BoardFolder board;
    std::filesystem::create_directory(scratch.file("tmp"));
    const std::string job = exportJob("tidy.rsp", 2, serialFlashJob(), {hexText(patternBytes(100, 1))});
    const Outcome result = runMvxisp({"run", job}, {{"MVX_VIRTUAL_BOARD", board.folder.path()},
                                                    {"TMPDIR", scratch.file("tmp")}},
                                     scratch);
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(std::filesystem::is_empty(scratch.file("tmp")));
}

// ---- the arguments of the call ----

TEST_F(RunJob, StationSettingsComeFromTheWorkFolder)
{
    writeStationSettings(
        "[flashprotect_setting]\nenable_protect=1\nscalar_type=3\npin_type=1\nvalue=0\n"
        "[ad_setting]\nAuto_detect=1\nEnable_sectorerase_extendbank=1\nSectorerase_bankindex=3\n"
        "checkVGAconn_delay=700\nbeforeshowCKSM_delay=20\n");
    tool::ModeOptions options = serialFlashJob(0b11);
    options.check = 1;   // without partial erase or extend size the page verifies by CRC
    options.brand = 1;
    const Outcome result =
        runMvxisp({"run", exportJob("job.rsp", 2, options, {"h1", "h2"})}, recordingEnv(scratch), scratch);
    ASSERT_EQ(result.status, 0) << result.err;
    const auto r = recorded(scratch);
    EXPECT_EQ(r.at("operation"), "2");
    EXPECT_EQ(r.at("adapterKind"), "2");
    EXPECT_EQ(r.at("slaveSelector"), "1");
    EXPECT_EQ(r.at("verifyByChecksum"), "0");
    EXPECT_EQ(r.at("flashBrand"), "1");
    EXPECT_EQ(r.at("idReadMode"), "1");
    EXPECT_EQ(r.at("protect"), "1,3,1,0");
    EXPECT_EQ(r.at("sectorEraseFlag"), "1");
    EXPECT_EQ(r.at("sectorEraseBank"), "3");
    EXPECT_EQ(r.at("options"), "700,20,0,1|0,0,0|0,0,0,0,0|0,0,0|0,0,0,0|0,0,(null),0,0,(null),0|0,0");
    EXPECT_NE(r.at("entry0").find(",0,"), std::string::npos);
    EXPECT_EQ(r.count("entry2"), 0u);
}

TEST_F(RunJob, McuJobWithExtendSizePassesItsPartialEraseLength)
{
    tool::ModeOptions options = tool::modeDefaults(0);
    options.interface = 3;
    options.erase = 1;
    options.extend = 1;
    options.ex_size = 19;
    options.check = 1;
    const Outcome result =
        runMvxisp({"run", exportJob("mcu.rsp", 0, options, {"h1", "h2"})}, recordingEnv(scratch), scratch);
    ASSERT_EQ(result.status, 0) << result.err;
    const auto r = recorded(scratch);
    EXPECT_EQ(r.at("operation"), "0");
    EXPECT_EQ(r.at("adapterKind"), "3");
    EXPECT_EQ(r.at("libraryMode"), "0");
    EXPECT_EQ(r.at("eraseMode"), "1");
    EXPECT_EQ(r.at("eraseLength"), "20480");
    EXPECT_EQ(r.at("verifyByChecksum"), "1");
}

TEST_F(RunJob, OneToFourJobUsesTheIicCableAndTheJobsInterfaceForTheLibraryMode)
{
    tool::ModeOptions options = oneToFourJob();
    options.interface = 1;   // FTDi USB: library mode 1
    const std::string job = exportJob("four.rsp", 5, options, {"h1"});
    const Outcome result = runMvxisp({"run", job, "--ld", file("a.hex"), "--ld", file("b.hex"), "--ld",
                                      file("c.hex"), "--ld", file("d.hex")},
                                     recordingEnv(scratch), scratch);
    ASSERT_EQ(result.status, 0) << result.err;
    const auto r = recorded(scratch);
    EXPECT_EQ(r.at("operation"), "5");
    EXPECT_EQ(r.at("adapterKind"), "2");
    EXPECT_EQ(r.at("libraryMode"), "1");
    EXPECT_EQ(r.at("entry22"), "1,0,a.hex");
    EXPECT_EQ(r.at("entry26"), "1,0,d.hex");
}

TEST_F(RunJob, OneToFourJobWithoutLdFilesIsRefused)
{
    const std::string job = exportJob("four.rsp", 5, oneToFourJob(), {"h1"});
    const Outcome result = runMvxisp({"run", job}, recordingEnv(scratch), scratch);
    EXPECT_EQ(result.status, 66);
    EXPECT_EQ(result.errLines().size(), 1u) << result.err;
    EXPECT_EQ(countOf(readWholeFile(scratch.file("record.txt")), "call=mvxISP"), 0);
}

TEST_F(RunJob, TargetsSwitchesBetweenOneAndFourTargets)
{
    const std::string single = exportJob("one.rsp", 2, serialFlashJob(), {"h1"});
    ASSERT_EQ(runMvxisp({"run", "--targets", "4", single, "--ld", file("a"), "--ld", file("b"), "--ld", file("c"),
                         "--ld", file("d")},
                        recordingEnv(scratch), scratch)
                  .status,
              0);
    EXPECT_EQ(recorded(scratch).at("operation"), "5");
    ASSERT_EQ(runMvxisp({"run", "--targets", "1", exportJob("four.rsp", 5, oneToFourJob(), {"h1"})},
                        recordingEnv(scratch), scratch)
                  .status,
              0);
    EXPECT_EQ(recorded(scratch).at("operation"), "2");
}

TEST_F(RunJob, BusOverridesTheJobsInterface)
{
    tool::ModeOptions options = serialFlashJob();
    options.interface = 0;
    const std::string job = exportJob("usb.rsp", 2, options, {"h1"});
    ASSERT_EQ(runMvxisp({"run", "--bus", "/dev/i2c-4", job}, recordingEnv(scratch), scratch).status, 0);
    const auto r = recorded(scratch);
    EXPECT_EQ(r.at("adapterKind"), "2");
    EXPECT_EQ(r.at("libraryMode"), "1");
    EXPECT_EQ(r.at("bus"), "/dev/i2c-4");
}

TEST_F(RunJob, UnknownInterfaceInTheJobIsTheEnginesAdapterKindError)
{
    BoardFolder board;
    tool::ModeOptions options = serialFlashJob();
    options.interface = 7;
    const std::string job = exportJob("odd.rsp", 2, options, {hexText(patternBytes(100, 1))});
    const Outcome result = runMvxisp({"run", job}, board.env(), scratch);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(countOf(result.err, "Target: sf over adapter kind 7, library mode 0\n"), 1) << result.err;
    EXPECT_EQ(result.errLines().back(), board.lastLine("Result 1: adapter kind outside 0..3"));
}

TEST_F(RunJob, OwnSlaveAddressMustBeGivenBecauseIspFilesDoNotCarryIt)
{
    tool::ModeOptions options = serialFlashJob();
    options.ispaddr = 0;
    const std::string job = exportJob("own.rsp", 2, options, {"h1"});
    const Outcome refused = runMvxisp({"run", job}, recordingEnv(scratch), scratch);
    EXPECT_EQ(refused.status, 65);
    EXPECT_NE(refused.err.find("--slave-address"), std::string::npos);
    ASSERT_EQ(runMvxisp({"run", "--slave-address", "0x98", job}, recordingEnv(scratch), scratch).status, 0);
    EXPECT_EQ(recorded(scratch).at("slaveSelector"), std::to_string(0x98));
}

// ---- files that cannot be run ----

TEST_F(RunJob, MissingOrMalformedIspFilesAreRefused)
{
    const Outcome missing = runMvxisp({"run", "nothere.rsp"}, recordingEnv(scratch), scratch);
    EXPECT_EQ(missing.status, 66);
    EXPECT_EQ(missing.errLines().size(), 1u);
    const Outcome malformed = runMvxisp({"run", file("bad.rsp", std::string("MVXF\x05\0abcMVXF", 13))}, recordingEnv(scratch), scratch);
    EXPECT_EQ(malformed.status, 65);
    EXPECT_EQ(malformed.errLines().size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(scratch.file("record.txt")));
}

TEST_F(RunJob, ImageNamesReachOnlyWhatTheUnpackWrote)
{
    // A valid image outside the job, where "../secret.hex" from the unpack
    // folder (made in TMPDIR) would lead.
    std::filesystem::create_directory(scratch.file("tmp"));
    const std::string secret = scratch.file("tmp/secret.hex");
    writeWholeFile(secret, hexText(patternBytes(2000, 7)));
    struct Case {
        std::string name;   // of image 2
        bool chunk;         // whether image 2 carries data
        std::string refusal;
    };
    const std::string notPlain = "', which is not a plain file name";
    const std::vector<Case> cases{
        {"../secret.hex", false, "'../secret.hex" + notPlain},
        {"../secret.hex", true, "'../secret.hex" + notPlain},
        {secret, false, "'" + secret + notPlain},
        {"/etc/passwd", false, "'/etc/passwd" + notPlain},
        {"../x", true, "'../x" + notPlain},
        {"a/b", true, "'a/b" + notPlain},
        {"..", false, "'.." + notPlain},
        {"ISP__PSI.ini", false, "'ISP__PSI.ini" + notPlain},
        // A plain name without data is an absent image, and the job selects it.
        {"img2.hex", false, "the job selects image 2, but the ISP file holds no data for it"},
    };
    const std::string old = patternBytes(kFlashBytes, 5);
    BoardFolder board("", old);
    const auto where = tool::ShellLocations::forFolders(exporter.file("tool"), exporter.file("pf"),
                                                        exporter.file("registry.ini"));
    std::filesystem::create_directories(where.workFolder);
    writeWholeFile(where.workFile("hexfile1"), hexText(patternBytes(1000, 1)));
    for (const Case& c : cases) {
        tool::IspJob job;
        job.mcu = 2;
        job.options = serialFlashJob(0b11);
        job.names.hex = {"img1.hex", c.name, "", ""};
        std::filesystem::remove(where.workFile("hexfile2"));
        if (c.chunk)
            writeWholeFile(where.workFile("hexfile2"), hexText(patternBytes(1000, 2)));
        ASSERT_TRUE(tool::writeIspFile(scratch.file("hostile.rsp"), job, where).ok);
        const Outcome result =
            runMvxisp({"run", "hostile.rsp"}, {{"MVX_VIRTUAL_BOARD", board.folder.path()}, {"TMPDIR", scratch.file("tmp")}},
                      scratch);
        EXPECT_EQ(result.status, 65) << c.name;
        EXPECT_EQ(countOf(result.err, c.refusal), 1) << c.name << "\n" << result.err;
        EXPECT_TRUE(board.flash() == old) << c.name;
    }
}

TEST_F(RunJob, SelectedImageWithoutDataIsRefused)
{
    tool::ModeOptions options = serialFlashJob(0b11);
    const std::string job = exportJob("half.rsp", 2, options, {"h1"});
    const Outcome result = runMvxisp({"run", job}, recordingEnv(scratch), scratch);
    EXPECT_EQ(result.status, 65);
    EXPECT_NE(result.err.find("image 2"), std::string::npos) << result.err;
}

}  // namespace
}  // namespace mvx::test
