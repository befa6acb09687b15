// mvxisp program, erase, ic-code and hdcp against virtual board folders: what
// the board's memories hold afterwards, the exit status and the log.
#include <gtest/gtest.h>

#include "cli_process.hpp"

namespace mvx::test {
namespace {

class BoardRun : public ::testing::Test {
protected:
    std::string write(const std::string& name, const std::string& bytes)
    {
        writeWholeFile(scratch.file(name), bytes);
        return name;
    }
    Outcome run(const std::vector<std::string>& args, const BoardFolder& board)
    {
        return runMvxisp(args, board.env(), scratch);
    }
    TempFolder scratch;
};

// ---- program ----

TEST_F(BoardRun, ProgrammingHexBanksLeavesTheImageInTheSerialFlash)
{
    BoardFolder board;
    const std::string banks[3] = {patternBytes(kBank, 1), patternBytes(kBank, 2), patternBytes(40000, 3)};
    const Outcome result = run({"program", write("b0.hex", hexText(banks[0])), write("b1.hex", hexText(banks[1])),
                                write("b2.hex", hexText(banks[2]))},
                               board);
    ASSERT_EQ(result.status, 0) << result.err;
    const std::string flash = board.flash();
    ASSERT_EQ(flash.size(), kFlashBytes);
    EXPECT_TRUE(flash.substr(0, kBank) == banks[0]);
    EXPECT_TRUE(flash.substr(kBank, kBank) == banks[1]);
    EXPECT_TRUE(flash.substr(2 * kBank, banks[2].size()) == banks[2]);
    EXPECT_EQ(flash.substr(2 * kBank + banks[2].size(), kBank - banks[2].size()),
              std::string(kBank - banks[2].size(), '\xFF'));
    EXPECT_EQ(flash.substr(3 * kBank), std::string(kFlashBytes - 3 * kBank, '\xFF'));
    for (const char* line : {"Current Chip is W25X40A.", "Bank 0 CRC OK", "Bank 1 CRC OK", "Bank 2 CRC OK",
                             "Program Bank2 100%"})
        EXPECT_EQ(countOf(result.err, std::string(line) + "\n"), 1) << line;
    EXPECT_EQ(result.errLines().front(), board.notice());
    EXPECT_EQ(result.errLines().back(), board.lastLine("Result 0: success"));
    EXPECT_TRUE(result.out.empty());
}

TEST_F(BoardRun, BankOptionPlacesAFileAtItsBankAndLeavesTheOthersAlone)
{
    const std::string old = patternBytes(kFlashBytes, 9);
    BoardFolder board("", old);
    const std::string data = patternBytes(5000, 4);
    const Outcome result = run({"program", "--bank", "3=" + write("b3.bin", data)}, board);
    ASSERT_EQ(result.status, 0) << result.err;
    const std::string flash = board.flash();
    EXPECT_TRUE(flash.substr(0, 3 * kBank) == old.substr(0, 3 * kBank));
    EXPECT_TRUE(flash.substr(3 * kBank, data.size()) == data);
    EXPECT_TRUE(flash.substr(4 * kBank) == old.substr(4 * kBank));
}

TEST_F(BoardRun, WholeImageIsCutIntoItsBanks)
{
    BoardFolder board;
    const std::string image = patternBytes(2 * kBank + 100, 5);
    const Outcome result = run({"program", "--image", write("whole.bin", image), "--brand", "winbond"}, board);
    ASSERT_EQ(result.status, 0) << result.err;
    const std::string flash = board.flash();
    EXPECT_TRUE(flash.substr(0, image.size()) == image);
    EXPECT_EQ(countOf(result.err, "CRC OK\n"), 3);
}

TEST_F(BoardRun, Mcu5310BanksLandInTheMcuFlash)
{
    BoardFolder board("[board]\ntarget=5310\n");
    const std::string bank0 = patternBytes(kBank, 6);
    const std::string bank1 = patternBytes(0x8000, 7);
    const Outcome result =
        run({"program", "--mcu", "5310", write("main.bin", bank0), write("extend.bin", bank1)}, board);
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(board.mcu() == bank0 + bank1);
}

TEST_F(BoardRun, BusRunGoesThroughTheIicLibraryOverI2cDev)
{
    // The board is reached through the IIC library's own virtual-board hook,
    // so everything from the command line to the i2c-dev calls runs as it
    // would on a monitor's bus.
    BoardFolder board;
    const std::string data = patternBytes(3000, 11);
    const Outcome result = runMvxisp({"program", "--bus", "3", write("b0.bin", data)},
                                     {{"MVX_I2CDEV_VIRTUAL_BOARD", board.folder.path()}}, scratch);
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.errLines().front(),
              "VIRTUAL BOARD " + board.folder.path() + ": no hardware is touched through the IIC library (--bus)");
    EXPECT_EQ(countOf(result.err, "Target: sf over iic, library mode 1\n"), 1);
    EXPECT_TRUE(board.flash().substr(0, data.size()) == data);
}

TEST_F(BoardRun, DeadLinkEndsWithResult13AndItsMeaning)
{
    const std::string old = patternBytes(kFlashBytes, 8);
    BoardFolder board("[board]\nlink=dead\n", old);
    const Outcome result = run({"program", write("b0.bin", patternBytes(1000, 1))}, board);
    EXPECT_EQ(result.status, 13);
    EXPECT_EQ(countOf(result.err, "Error Code: 13 MCU link error!\n"), 1);
    EXPECT_EQ(result.errLines().back(), board.lastLine("Result 13: the device could not be put into ISP mode"));
    EXPECT_TRUE(board.flash() == old);
}

TEST_F(BoardRun, CrcMismatchIsRetriedOnceAndThenPasses)
{
    BoardFolder board("[faults]\ncrc_mismatch_once=1\n");
    const std::string data = patternBytes(3000, 2);
    const Outcome result = run({"program", write("b0.bin", data)}, board);
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(countOf(result.err, "Bank 0 CRC failed\n"), 1);
    EXPECT_EQ(countOf(result.err, "Bank 0 CRC OK\n"), 1);
    // The failed pass and the retry each keep their own progress line.
    EXPECT_EQ(countOf(result.err, "Program Bank0 100%\n"), 2);
    EXPECT_TRUE(board.flash().substr(0, data.size()) == data);
}

TEST_F(BoardRun, IcCodeCheckRefusesAnotherScalerWithoutWriting)
{
    const std::string old = patternBytes(kFlashBytes, 3);
    BoardFolder board("[board]\nic_code=3\n", old);
    const Outcome result = run({"program", "--check-ic-code", "5", write("b0.bin", patternBytes(100, 1))}, board);
    EXPECT_EQ(result.status, 28);
    EXPECT_EQ(countOf(result.err, "Error Code: 28 Scalar IC code mismatch!\n"), 1);
    EXPECT_TRUE(board.flash() == old);
}

// ---- erase ----

TEST_F(BoardRun, EraseBlanksTheWholeChip)
{
    BoardFolder board("", patternBytes(kFlashBytes, 4));
    const Outcome result = run({"erase"}, board);
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(board.flash(), std::string(kFlashBytes, '\xFF'));
    EXPECT_EQ(countOf(result.err, "Mass Erase OK\n"), 1);
}

TEST_F(BoardRun, PageEraseBlanksOnlyTheNamedBanks)
{
    const std::string old = patternBytes(kFlashBytes, 5);
    BoardFolder board("", old);
    const Outcome result = run({"erase", "--erase", "page", "--banks", "1,3"}, board);
    ASSERT_EQ(result.status, 0) << result.err;
    const std::string flash = board.flash();
    EXPECT_TRUE(flash.substr(0, kBank) == old.substr(0, kBank));
    EXPECT_EQ(flash.substr(kBank, kBank), std::string(kBank, '\xFF'));
    EXPECT_TRUE(flash.substr(2 * kBank, kBank) == old.substr(2 * kBank, kBank));
    EXPECT_EQ(flash.substr(3 * kBank, kBank), std::string(kBank, '\xFF'));
    EXPECT_TRUE(flash.substr(4 * kBank) == old.substr(4 * kBank));
}

TEST_F(BoardRun, McuPageEraseClearsTheFullBanksAndTheNamedKilobytes)
{
    BoardFolder board("[board]\ntarget=5312\n");
    const std::string full = patternBytes(2 * kBank + 0x8000, 3);
    ASSERT_EQ(run({"program", "--mcu", "5312", "--image", write("all.bin", full)}, board).status, 0);
    ASSERT_TRUE(board.mcu() == full);
    const Outcome result = run({"erase", "--mcu", "5312", "--erase", "page", "--erase-size", "8"}, board);
    ASSERT_EQ(result.status, 0) << result.err;
    const std::string mcu = board.mcu();
    EXPECT_EQ(mcu.substr(0, 2 * kBank + 0x2000), std::string(2 * kBank + 0x2000, '\xFF'));
    EXPECT_TRUE(mcu.substr(2 * kBank + 0x2000) == full.substr(2 * kBank + 0x2000));
}

// ---- IC code ----

TEST_F(BoardRun, IcCodeIsPrintedAndTheFlashKeepsItsData)
{
    const std::string old = patternBytes(kFlashBytes, 6);
    BoardFolder board("[board]\nic_code=0x5A\n", old);
    const Outcome result = run({"ic-code"}, board);
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "IC Code: 0x5A\n");
    EXPECT_TRUE(board.flash() == old);
}

TEST_F(BoardRun, IcCodeInJsonIsANumberInTheResult)
{
    BoardFolder board("[board]\nic_code=0x5A\n");
    const Outcome result = run({"ic-code", "--json", "--quiet"}, board);
    ASSERT_EQ(result.status, 0) << result.err;
    // --quiet keeps only the board's notice.
    EXPECT_EQ(result.err, board.notice() + "\n" + board.lastLine("Result 0: success") + "\n");
    EXPECT_NE(result.outLines().back().find("\"ic_code\":90"), std::string::npos) << result.out;
    EXPECT_EQ(countOf(result.out, "\"name\":\"ic_code\",\"sub\":0,\"value\":90"), 1);
}

// ---- HDCP key ----

TEST_F(BoardRun, HdcpKeyLandsInItsSectorAndNothingElseChanges)
{
    constexpr std::size_t kKeyAt = 0x3F000;
    const std::string old = patternBytes(kFlashBytes, 7);
    BoardFolder board("", old);
    const std::string key = patternBytes(288, 8);
    const Outcome result = run({"hdcp", write("key.bin", key)}, board);
    ASSERT_EQ(result.status, 0) << result.err;
    std::string expected = old;
    expected.replace(kKeyAt, 0x1000, std::string(0x1000, '\xFF'));
    expected.replace(kKeyAt, key.size(), key);
    EXPECT_TRUE(board.flash() == expected);
}

TEST_F(BoardRun, HdcpReadBackIsSavedInTheChosenFolder)
{
    BoardFolder board;
    const std::string key = patternBytes(300, 9);
    std::filesystem::create_directory(scratch.file("keys"));
    const Outcome result = run({"hdcp", "--save-key", "keys", write("key.bin", key)}, board);
    ASSERT_EQ(result.status, 0) << result.err;
    const std::string saved = readWholeFile(scratch.file("keys/Read_HDCP_KEY_File.bin"));
    ASSERT_GE(saved.size(), key.size());
    EXPECT_TRUE(saved.substr(0, key.size()) == key);
}

}  // namespace
}  // namespace mvx::test
