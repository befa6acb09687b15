// What reaches the engine: every option of program, erase, ic-code, hdcp and
// info as the arguments of mvxISP / mvxGetFileInfo, recorded by a stand-in
// engine.
#include <gtest/gtest.h>

#include "cli_process.hpp"

namespace mvx::test {
namespace {

class EngineArguments : public ::testing::Test {
protected:
    std::string file(const std::string& name, const std::string& bytes = "x")
    {
        writeWholeFile(scratch.file(name), bytes);
        return name;
    }
    Outcome run(const std::vector<std::string>& args, int result = 0, Environment extra = {})
    {
        Environment env = recordingEnv(scratch, result);
        for (const auto& [name, value] : extra)
            env[name] = value;
        return runMvxisp(args, env, scratch);
    }
    std::map<std::string, std::string> calls() const { return recorded(scratch); }
    TempFolder scratch;
};

// ---- program ----

TEST_F(EngineArguments, DefaultsAreTheSerialFlashOverTheIicCableWithTheFlashIdentified)
{
    const Outcome result = run({"program", file("b0.hex")});
    ASSERT_EQ(result.status, 0) << result.err;
    const auto r = calls();
    EXPECT_EQ(r.at("adapterKind"), "2");
    EXPECT_EQ(r.at("operation"), "2");
    EXPECT_EQ(r.at("eraseOnly"), "0");
    EXPECT_EQ(r.at("slaveSelector"), "1");
    EXPECT_EQ(r.at("eraseMode"), "0");
    EXPECT_EQ(r.at("eraseLength"), "-1");
    EXPECT_EQ(r.at("libraryMode"), "0");
    EXPECT_EQ(r.at("idReadMode"), "1");
    EXPECT_EQ(r.at("window"), "1");
    EXPECT_EQ(r.at("protect"), "0,0,0,0");
    EXPECT_EQ(r.at("entry0"), "1,0,b0.hex");
    // The Advanced Setting defaults; nothing switched on.
    EXPECT_EQ(r.at("options"), "500,0,0,1|0,253,191|0,0,0,2,0|0,0,0|0,0,14,0|0,0,(null),0,0,(null),0|0,127");
    EXPECT_EQ(r.at("bus"), "");
}

TEST_F(EngineArguments, EveryProgramOptionReachesItsArgument)
{
    const Outcome result =
        run({"program", "--interface", "usb", "--library-mode", "1", "--slave-address", "0x9A", "--brand", "sst",
             "--wp-pin", "txq:Pin112:high", "--e2e3", "0xFD,0xBF", "--check-ic-code", "0x5A", "--flash-status",
             "0x7C", "--sector-erase-bank", "2", "--mass-erase-first", "--erase-banks", "0,2-3", "--erase", "page",
             "--usb-frequency", "2", "--usb-delay", "7", "--ftdi-clock", "3", "--iic-delay", "9", "--bank",
             "8=" + file("ld.hex"), file("b0.BIN"), file("b1.hex")});
    ASSERT_EQ(result.status, 0) << result.err;
    const auto r = calls();
    EXPECT_EQ(r.at("adapterKind"), "0");
    EXPECT_EQ(r.at("libraryMode"), "1");
    EXPECT_EQ(r.at("slaveSelector"), std::to_string(0x9A));
    EXPECT_EQ(r.at("flashBrand"), "4");
    EXPECT_EQ(r.at("idReadMode"), "0");
    EXPECT_EQ(r.at("protect"), "1,2,2,1");
    EXPECT_EQ(r.at("sectorEraseFlag"), "1");
    EXPECT_EQ(r.at("sectorEraseBank"), "2");
    EXPECT_EQ(r.at("eraseMode"), "1");
    EXPECT_EQ(r.at("entry0"), "1,1,b0.BIN");
    EXPECT_EQ(r.at("entry1"), "1,0,b1.hex");
    EXPECT_EQ(r.at("entry8"), "1,0,ld.hex");
    EXPECT_EQ(r.at("options"), "500,0,0,1|1,253,191|0,0,1,90,0|1,1,13|2,7,3,9|0,0,(null),0,0,(null),0|1,124");
}

TEST_F(EngineArguments, Mcu5310PartialEraseAndChecksumVerify)
{
    const Outcome result = run({"program", "--mcu", "5310", "--erase", "page", "--erase-size", "20", "--verify",
                                "checksum", file("main.hex"), file("extend.hex")});
    ASSERT_EQ(result.status, 0) << result.err;
    const auto r = calls();
    EXPECT_EQ(r.at("operation"), "0");
    EXPECT_EQ(r.at("eraseMode"), "1");
    EXPECT_EQ(r.at("eraseLength"), "20480");
    EXPECT_EQ(r.at("verifyByChecksum"), "1");
    EXPECT_EQ(r.at("idReadMode"), "0");
}

TEST_F(EngineArguments, OneToFourRunCarriesItsLdFilesAndDelays)
{
    const Outcome result = run({"program", "--mcu", "sf-1to4", "--ld", file("m10.hex"), "--ld", file("m11.hex"),
                                "--ld", file("m20.hex"), "--ld", file("m21.hex"), "--check-vga-delay", "800",
                                "--checksum-delay", "30", file("b0.hex")});
    ASSERT_EQ(result.status, 0) << result.err;
    const auto r = calls();
    EXPECT_EQ(r.at("operation"), "5");
    EXPECT_EQ(r.at("entry0"), "1,0,b0.hex");
    EXPECT_EQ(r.at("entry22"), "1,0,m10.hex");
    EXPECT_EQ(r.at("entry23"), "1,0,m11.hex");
    EXPECT_EQ(r.at("entry25"), "1,0,m20.hex");
    EXPECT_EQ(r.at("entry26"), "1,0,m21.hex");
    EXPECT_EQ(r.at("options").substr(0, 6), "800,30");
}

TEST_F(EngineArguments, BusSelectsTheIicLibraryAndNamesTheBusNode)
{
    const Outcome result = run({"program", "--bus", "i2c-3", file("b0.hex")});
    ASSERT_EQ(result.status, 0) << result.err;
    const auto r = calls();
    EXPECT_EQ(r.at("adapterKind"), "2");
    EXPECT_EQ(r.at("libraryMode"), "1");
    EXPECT_EQ(r.at("bus"), "/dev/i2c-3");
}

TEST_F(EngineArguments, LibraryModeFollowsTheInstalledMakerToolsLikeThePage)
{
    writeWholeFile(scratch.file("registry.ini"),
                   "[NorVane Customer Tool Configuration Parameters]\nMVXTool Version=dword:00000064\n");
    ASSERT_EQ(run({"program", file("b0.hex")}).status, 0);
    EXPECT_EQ(calls().at("libraryMode"), "1");
    ASSERT_EQ(run({"program", "--interface", "cvt", file("b0.hex")}).status, 0);
    EXPECT_EQ(calls().at("libraryMode"), "0");
    ASSERT_EQ(run({"program", "--library-mode", "0", file("b0.hex")}).status, 0);
    EXPECT_EQ(calls().at("libraryMode"), "0");
}

TEST_F(EngineArguments, RepeatTestRunsEveryRoundAndReportsTheCounts)
{
    const Outcome result = run({"program", "--repeat", "3", "--json", "-q", file("b0.hex")}, 21);
    EXPECT_EQ(result.status, 21);
    EXPECT_EQ(countOf(readWholeFile(scratch.file("record.txt")), "call=mvxISP\n"), 3);
    EXPECT_EQ(calls().at("options").substr(0, 8), "500,0,1,");
    const std::string last = result.outLines().back();
    EXPECT_NE(last.find("\"runs\":3,\"runs_passed\":0,\"runs_failed\":3"), std::string::npos) << last;
    EXPECT_NE(last.find("\"status\":21"), std::string::npos) << last;
}

// ---- erase, ic-code, hdcp ----

TEST_F(EngineArguments, EraseOfSerialFlashBanksMarksThemWithoutFiles)
{
    ASSERT_EQ(run({"erase", "--erase", "page", "--banks", "0,8"}).status, 0);
    const auto r = calls();
    EXPECT_EQ(r.at("eraseOnly"), "1");
    EXPECT_EQ(r.at("eraseMode"), "1");
    EXPECT_EQ(r.at("entry0"), "2,0,");
    EXPECT_EQ(r.at("entry8"), "2,0,");
    EXPECT_EQ(r.count("entry1"), 0u);
}

TEST_F(EngineArguments, IcCodeAsksForTheCodeOnly)
{
    ASSERT_EQ(run({"ic-code"}).status, 0);
    const auto r = calls();
    EXPECT_EQ(r.at("operation"), "2");
    EXPECT_EQ(r.at("options").substr(0, 28), "500,0,0,1|0,253,191|1,0,0,2,");
    EXPECT_EQ(r.at("options").substr(28, 1), "1");   // ispEnable: the ISP itself is off
    EXPECT_EQ(r.count("entry0"), 0u);
}

TEST_F(EngineArguments, HdcpKeyKindComesFromTheNameUnlessGiven)
{
    ASSERT_EQ(run({"hdcp", file("key.TXT")}).status, 0);
    EXPECT_EQ(calls().at("options"), "500,0,0,1|0,253,191|0,0,0,2,0|0,0,0|0,0,14,0|1,0,key.TXT,0,0,(null),1|0,127");
    ASSERT_EQ(run({"hdcp", "--key-kind", "bin", "--verify-key", "read-back", file("key.txt")}).status, 0);
    EXPECT_EQ(calls().at("options"), "500,0,0,1|0,253,191|0,0,0,2,0|0,0,0|0,0,14,0|1,0,key.txt,1,0,(null),0|0,127");
}

// ---- info ----

TEST_F(EngineArguments, InfoAsksForEveryBankWithTheRunsLengthRules)
{
    const Outcome result =
        run({"info", "--mcu", "5310", "--erase", "page", "--erase-size", "20", file("a.hex"), file("b.bin")});
    ASSERT_EQ(result.status, 0) << result.err;
    const std::string record = readWholeFile(scratch.file("record.txt"));
    EXPECT_EQ(countOf(record, "info=a.hex,0,0,0,1,20480,0,0,0\n"), 1) << record;
    EXPECT_EQ(countOf(record, "info=b.bin,1,1,0,1,20480,0,0,0\n"), 1) << record;
    ASSERT_EQ(result.outLines().size(), 3u);
    EXPECT_EQ(result.outLines()[1],
              "Bank0 (0-64)     a.hex                             1234      4096    001F  0x0a");
    EXPECT_EQ(result.outLines()[2].substr(0, 17), "Bank1 (64-96)    ");
}

TEST_F(EngineArguments, InfoOfAWholeImageAsksBankByBankInFormat2)
{
    const Outcome result = run({"info", "--json", "--image", file("all.bin", patternBytes(2 * kBank + 1, 1))});
    ASSERT_EQ(result.status, 0) << result.err;
    const std::string record = readWholeFile(scratch.file("record.txt"));
    for (int bank = 0; bank < 3; ++bank)
        EXPECT_EQ(countOf(record, "info=all.bin,2," + std::to_string(bank) + ",2,0,-1,"), 1) << bank;
    EXPECT_EQ(countOf(result.out, "\"type\":\"bank\""), 3);
    EXPECT_EQ(countOf(result.out, "\"data_length\":1234,\"program_length\":4096,\"checksum\":31,\"crc\":10"), 3);
}

TEST_F(EngineArguments, InfoStatusIsTheFirstFailingBanksResult)
{
    const Outcome result = run({"info", file("a.hex")}, 15);
    EXPECT_EQ(result.status, 15);
    EXPECT_NE(result.out.find("error 15: malformed HEX record"), std::string::npos) << result.out;
    EXPECT_EQ(result.errLines().back(), "Result 15: malformed HEX record");
}

}  // namespace
}  // namespace mvx::test
