// The Assembly ISP page's model over a scripted engine: how a job loads
// (1 To 1 / 1 To 4, refused files), the texts, the call a run makes and
// what its result shows.
#include "assembly_page/assembly_page.hpp"

#include <gtest/gtest.h>

#include <filesystem>

#include "shell_test_support.hpp"

using namespace mvx::assembly_page;
using mvx::test::readWholeFile;
using mvx::test::ScriptedUi;
using mvx::test::writeWholeFile;
namespace fs = std::filesystem;

namespace {

int scriptedIsp(int, int, int, int, int, int, int, int, int, const FileTableEntry*, int, int, const MvxWindow*,
                const FlashProtectSettings*, int, int, const IspOptions*)
{
    return MVX_OK;
}

int scriptedInfo(const char*, int, int, int, int, int, int* dataLength, int* programLength, int* checksum, int* crc,
                 const MvxWindow*, int, int)
{
    *dataLength = 300;
    *programLength = 512;
    *checksum = 0xAB;
    *crc = 0x1234;
    return MVX_OK;
}

// An exported ISP file: "MVXF", the settings chunk, the chunks, "MVXF".
std::string rspBytes(const std::string& ini, const std::vector<std::string>& chunks)
{
    std::string bytes = "MVXF";
    bytes += static_cast<char>(ini.size() & 0xFF);
    bytes += static_cast<char>(ini.size() >> 8);
    bytes += ini;
    for (const std::string& chunk : chunks) {
        for (int shift = 0; shift < 32; shift += 8)
            bytes += static_cast<char>(chunk.size() >> shift & 0xFF);
        bytes += chunk;
    }
    return bytes + "MVXF";
}

class Model : public ::testing::Test {
protected:
    Model()
    {
        fs::create_directories(root.file("work/ispfile"));
        writeWholeFile(root.file("program"), "program");
    }

    PageFiles files() const
    {
        return {root.file("work/ISP__PSI.ini"), root.file("work"), root.file("work/ispfile"), root.file("program"),
                root.file("registry.ini"), ""};
    }

    // A hex job of mode mcu selecting the images of filecheck ("imageN.hex").
    std::string writeJob(int mcu, int filecheck, const std::string& extra = "", int interface = 0)
    {
        std::string ini = "[Setting]\nmcu=" + std::to_string(mcu) + "\ninterface=" + std::to_string(interface) +
                          "\nispaddr=1\nfilecheck=" +
                          std::to_string(filecheck) + "\nispfiletype=0\n" + extra + "[Saved_HEX]\n";
        std::vector<std::string> chunks;
        for (int i = 0; i < 4; ++i) {
            const bool selected = (filecheck >> i & 1) != 0;
            ini += "hexfile" + std::to_string(i + 1) + "=" + (selected ? "image" + std::to_string(i + 1) + ".hex" : "") + "\n";
            chunks.push_back(selected ? ":00000001FF\n" : "");
        }
        const std::string path = root.file("job" + std::to_string(mcu) + ".rsp");
        writeWholeFile(path, rspBytes(ini, chunks));
        return path;
    }

    void writeStation(const std::string& text) { writeWholeFile(root.file("work/ISP__PSI.ini"), text); }

    mvx::test::TempFolder root;
    ScriptedUi ui;
    mvx::tool::EngineEntryPoints engine{&scriptedIsp, &scriptedInfo};
    AssemblyPageModel model{files(), ui, engine};
};

}  // namespace

TEST_F(Model, LoadingDecidesOneTargetOrFour)
{
    struct Case {
        int fileMode;
        bool keepMode;
        int last1to4;
        int mode;
        int oneToFour;
    };
    const Case cases[] = {
        {1, false, 0, 4, 1},   // Load ISP File: always four targets
        {5, false, 0, 5, 1},
        {4, true, 0, 1, 0},    // the saved job at open keeps the saved choice
        {1, true, 1, 4, 1},
        {2, true, 0, 2, 0},
    };
    for (const Case& c : cases) {
        writeStation("[Setting]\nlast1to4=" + std::to_string(c.last1to4) + "\n[ASS_ISP]\nrecfile=" +
                     writeJob(c.fileMode, 1) + "\n");
        AssemblyPageModel page(files(), ui, engine);
        page.open();
        if (!c.keepMode)
            page.load(writeJob(c.fileMode, 1), false);
        EXPECT_EQ(page.mode(), c.mode) << c.fileMode << " keepMode " << c.keepMode;
        EXPECT_EQ(page.oneToFour(), c.oneToFour) << c.fileMode << " keepMode " << c.keepMode;
        EXPECT_TRUE(page.ispEnabled());
    }
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(Model, RefusedFileSaysWhyClearsTheJobAndWritesNothingElsewhere)
{
    ASSERT_TRUE(model.load(writeJob(2, 1), false));
    const std::string bad = root.file("broken.rsp");
    writeWholeFile(bad, rspBytes("[Setting]\nmcu=2\n[Saved_HEX]\nhexfile1=../escape.hex\n", {"x", "", "", ""}));
    EXPECT_FALSE(model.load(bad, false));
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_NE(ui.messages[0].text.find(bad), std::string::npos) << ui.messages[0].text;
    EXPECT_GT(ui.messages[0].text.size(), bad.size() + 30) << "and why";
    EXPECT_FALSE(model.loaded());
    EXPECT_FALSE(model.ispEnabled());
    EXPECT_EQ(model.texts().at(imageControlName(0, ImagePart::NameEdit)), "");
    EXPECT_FALSE(fs::exists(root.file("work/escape.hex")));
    EXPECT_TRUE(fs::is_empty(root.file("work/ispfile")));

    // At open a saved job that is gone says so.
    writeStation("[ASS_ISP]\nrecfile=" + root.file("gone.rsp") + "\n");
    AssemblyPageModel page(files(), ui, engine);
    page.open();
    EXPECT_EQ(ui.messages.back().text, kNoRspMessage);
}

TEST_F(Model, TargetsRadioAsksAndMapsTheMode)
{
    ASSERT_TRUE(model.load(writeJob(2, 1), false));
    ui.answers = {mvx::tool::Answer::No, mvx::tool::Answer::Yes};
    model.chooseTargets(0);
    EXPECT_EQ(model.mode(), MVX_OP_SERIAL_FLASH_1TO4) << "No keeps the mode";
    model.chooseTargets(0);
    EXPECT_EQ(model.mode(), MVX_OP_SERIAL_FLASH);
    EXPECT_EQ(model.oneToFour(), 0);
    ASSERT_EQ(ui.questions.size(), 2u);
    EXPECT_EQ(ui.questions[1].text, kToOneQuestion);
    EXPECT_TRUE(model.close());
    EXPECT_NE(readWholeFile(root.file("work/ISP__PSI.ini")).find("last1to4=0"), std::string::npos);
}

TEST(Texts, InterfaceReadsIicForFourTargets)
{
    for (int mode = 0; mode < 6; ++mode) {
        for (int interface = 0; interface <= 4; ++interface) {
            const std::string own[] = {"USB", "FTDI", "IIC", "CVT IIC", "--"};
            EXPECT_EQ(interfaceText(mode, interface), mode >= 3 ? "IIC" : own[interface]) << mode << "/" << interface;
        }
    }
}

TEST(Texts, PinNamesBySeriesAndPin)
{
    const std::vector<std::vector<std::string>> pins = {
        {"Pin103", "Pin104", "Pin105", "Pin108", "--", "--"},
        {"Pin103", "Pin104", "Pin105", "Pin108", "--", "--"},
        {"Pin110", "Pin111", "Pin112", "Pin113", "Pin114", "--"},
        {"Pin26", "Pin27", "Pin28", "Pin29", "--", "--"},
        {"--", "--", "--", "--", "--", "--"},
    };
    for (int series = -1; series <= 4; ++series) {
        for (int pin = -1; pin <= 5; ++pin) {
            const bool inRange = series >= 0 && pin >= 0;
            const std::string expected = inRange ? pins[static_cast<std::size_t>(series)][static_cast<std::size_t>(pin)] : "--";
            EXPECT_EQ(pinName(series, pin), expected) << series << "/" << pin;
        }
    }
}

TEST_F(Model, ProtectAndJobTexts)
{
    writeStation("[flashprotect_setting]\nenable_protect=1\nscalar_type=2\npin_type=4\nvalue=0\n");
    model.open();
    EXPECT_EQ(model.title().rfind("Norvane ISP Tool V2.2", 0), 0u);
    ASSERT_TRUE(model.load(writeJob(2, 1, "erase=1\nextend=1\nex_size=31\nbrand=4\n"), true));
    const auto texts = model.texts();
    EXPECT_EQ(texts.at(std::string(names::flashProtectEdit)), "Open");
    EXPECT_EQ(texts.at(std::string(names::pinEdit)), "Pin114");
    EXPECT_EQ(texts.at(std::string(names::pullEdit)), "Low");
    EXPECT_EQ(texts.at(std::string(names::eraseSizeEdit)), "32k");
    EXPECT_EQ(texts.at(std::string(names::brandEdit)), "SST");
    EXPECT_EQ(texts.at(std::string(names::projectNameEdit)), "job2");
    EXPECT_EQ(texts.at(imageControlName(0, ImagePart::ChecksumEdit)), "00AB");
    EXPECT_EQ(texts.at(imageControlName(0, ImagePart::FileLengthEdit)), "300");
    EXPECT_TRUE(model.controls().at(std::string(names::protectGroupBox)).visible);
    EXPECT_FALSE(model.controls().at(std::string(names::ldGroupBox)).visible);
    model.refresh();
    EXPECT_EQ(model.title().rfind("job2 (SerialFlash _ USB) ", 0), 0u) << model.title();
    EXPECT_NE(readWholeFile(root.file("registry.ini")).find("job2 (SerialFlash _ USB)"), std::string::npos);
}

TEST_F(Model, HexJobPutsTheSelectedImagesInTheirEntries)
{
    ASSERT_TRUE(model.load(writeJob(2, 0b0101), true));
    const auto call = model.startRun();
    ASSERT_TRUE(call);
    const std::vector<int> inUse{call->table[0].inUse, call->table[1].inUse, call->table[2].inUse, call->table[3].inUse};
    EXPECT_EQ(inUse, (std::vector<int>{1, 0, 1, 0}));
    EXPECT_EQ(std::string(call->table[2].path), root.file("work/ispfile/image3.hex"));
    EXPECT_EQ(call->adapterKind, MVX_ADAPTER_NORVANE_USB);
    EXPECT_TRUE(model.running());
    EXPECT_FALSE(model.close()) << "not while running";
}

TEST_F(Model, FourTargetRunsTakeTheLdCopiesOrSayTheyAreMissing)
{
    struct Case {
        int mode;
        std::vector<int> entries;
        std::string_view missing;
    };
    const Case cases[] = {
        {MVX_OP_5310_1TO4, {16, 17, 18, 19}, kLdMissingMessage},
        {MVX_OP_5312_1TO4, {9, 10, 11, 12}, kLdMissingSettingMessage},
        {MVX_OP_SERIAL_FLASH_1TO4, {22, 23, 25, 26}, kLdMissingMessage},
    };
    for (const Case& c : cases) {
        const std::string family = c.mode == MVX_OP_5310_1TO4 ? "5310" : c.mode == MVX_OP_5312_1TO4 ? "5312" : "SF";
        AssemblyPageModel page(files(), ui, engine);
        ASSERT_TRUE(page.load(writeJob(c.mode, 1, "", MVX_ADAPTER_FTDI_USB), false));
        EXPECT_FALSE(page.startRun());
        EXPECT_EQ(ui.messages.back().text, c.missing);
        for (int n = 1; n <= 4; ++n)
            writeWholeFile(root.file("work/" + family + "file" + std::to_string(n)), ":00000001FF\n");
        const auto call = page.startRun();
        ASSERT_TRUE(call) << c.mode;
        EXPECT_EQ(call->adapterKind, MVX_ADAPTER_NORVANE_IIC) << "the writer board, whatever the interface";
        EXPECT_EQ(call->libraryMode, 1) << "the stored interface (FTDI) still decides the library mode";
        for (std::size_t i = 0; i < 4; ++i) {
            const FileTableEntry& entry = call->table[static_cast<std::size_t>(c.entries[i])];
            EXPECT_EQ(entry.inUse, 1);
            EXPECT_EQ(std::string(entry.path), root.file("work/" + family + "file" + std::to_string(i + 1)));
        }
        EXPECT_EQ(page.texts().at(ldControlName(0)), family + "file1");
    }
}

TEST_F(Model, ResultShowsThePictureAndTheLinkError)
{
    struct Case {
        int result;
        bool passed;
        std::string_view message;
    };
    const Case cases[] = {
        {MVX_OK, true, ""},
        {MVX_ERR_BRIDGE_MISSING, false, kLinkErrorMessage},
        {MVX_ERR_ISP_MODE, false, kLinkErrorMessage},
        {MVX_ERR_TIMEOUT, false, kLinkErrorMessage},
        {MVX_ERR_CRC_MISMATCH, false, ""},
    };
    ASSERT_TRUE(model.load(writeJob(5, 1), false));
    ui.answers = {mvx::tool::Answer::Yes};
    model.chooseTargets(0);   // serial flash, one target
    for (const Case& c : cases) {
        ui.messages.clear();
        ASSERT_TRUE(model.startRun());
        model.progress(MVX_PROGRESS_WPARAM(MVX_MSG_OVERALL_PERCENT, 0), 100);
        model.runEnded(c.result);
        model.runIdle();
        const auto controls = model.controls();
        EXPECT_EQ(controls.at(std::string(names::passPictureLabel)).visible, c.passed) << c.result;
        EXPECT_EQ(controls.at(std::string(names::failPictureLabel)).visible, !c.passed) << c.result;
        EXPECT_FALSE(controls.at(std::string(names::targetsGroupBox)).enabled) << "stays off after a serial flash run";
        EXPECT_EQ(model.texts().at(std::string(names::progressLabel)), "100%");
        EXPECT_EQ(ui.messageTexts(), c.message.empty() ? std::vector<std::string>{}
                                                       : std::vector<std::string>{std::string(c.message)});
    }
}
