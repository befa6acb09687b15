// Wrong commands, options and files: one line on stderr, the status that
// names the kind of mistake, and no engine call; the help texts.
#include <gtest/gtest.h>

#include <filesystem>

#include "arguments.hpp"
#include "cli_process.hpp"
#include "help.hpp"
#include "shell/engine_library.hpp"

namespace mvx::test {
namespace {

class CommandLine : public ::testing::Test {
protected:
    Outcome run(const std::vector<std::string>& args, Environment extra = {})
    {
        Environment env = recordingEnv(scratch);
        for (const auto& [name, value] : extra)
            env[name] = value;
        return runMvxisp(args, env, scratch);
    }
    std::string file(const std::string& name)
    {
        writeWholeFile(scratch.file(name), "x");
        return name;
    }
    // One line on stderr, nothing on stdout, and the engine never called.
    void expectRefused(const Outcome& result, int status, const std::string& text)
    {
        EXPECT_EQ(result.status, status) << result.err;
        ASSERT_EQ(result.errLines().size(), 1u) << result.err;
        EXPECT_EQ(result.errLines()[0].rfind("mvxisp: ", 0), 0u);
        EXPECT_NE(result.err.find(text), std::string::npos) << result.err;
        EXPECT_TRUE(result.out.empty());
        EXPECT_FALSE(std::filesystem::exists(scratch.file("record.txt")));
    }
    TempFolder scratch;
};

// ---- refused before the engine is called ----

TEST_F(CommandLine, UnknownCommandOrOptionIsAUsageError)
{
    expectRefused(run({"flash"}), 64, "unknown command 'flash'");
    expectRefused(run({"program", "--frequency", "3", file("b0.hex")}), 64,
                  "unknown option '--frequency' (see 'mvxisp program --help')");
    expectRefused(run({"ic-code", "--mcu", "5310"}), 64, "unknown option '--mcu'");
}

TEST_F(CommandLine, BadOptionValuesAreUsageErrors)
{
    const std::string f = file("b0.hex");
    expectRefused(run({"program", "--mcu", "5311", f}), 64, "--mcu: '5311' is not one of 5310, 5312, sf");
    expectRefused(run({"program", "--erase-size", "16", "--mcu", "5312", f}), 64, "goes with --erase page");
    expectRefused(run({"program", "--mcu", "5312", "--erase", "page", "--erase-size", "33", f}), 64,
                  "--erase-size: 33 is outside 1..32");
    expectRefused(run({"program", "--slave-address", "0x95", f}), 64, "not an 8-bit write address");
    expectRefused(run({"program", "--mcu", "5310", "--brand", "sst", f}), 64, "applies to the serial flash");
    expectRefused(run({"program", "--bus", "3", "--interface", "usb", f}), 64, "goes with --interface iic");
    expectRefused(run({"program", "--verify", "checksum", f}), 64, "is for the 5310");
    expectRefused(run({"program", "--wp-pin", "q:7:high", f}), 64, "is not a pin of that series");
    expectRefused(run({"program", "--brand", "sst", "--brand", "pmc", f}), 64, "given more than once");
    expectRefused(run({"program", "--log"}), 64, "--log needs a value");
    expectRefused(run({"erase", "--erase", "page"}), 64, "--banks");
    expectRefused(run({"erase", "--mcu", "5312", "--erase", "page"}), 64, "give --erase-size");
    expectRefused(run({"program", "--bank", "9=" + f}), 64, "bank 9 is not a bank of the sf");
    expectRefused(run({"program", "--mcu", "5310-1to4", f}), 64, "four LD files");
    expectRefused(run({"program"}), 64, "name the firmware");
}

TEST_F(CommandLine, MissingFilesNameTheFileAndEndWithResult14)
{
    expectRefused(run({"program", "nothere.hex"}), 14, "cannot read the bank 0 file 'nothere.hex'");
    expectRefused(run({"hdcp", "nokey.bin"}), 14, "cannot read the HDCP key file 'nokey.bin'");
    std::filesystem::create_directory(scratch.file("folder.bin"));
    expectRefused(run({"info", "--image", "folder.bin"}), 14, "it is a folder");
}

TEST_F(CommandLine, ImageLargerThanTheFlashBanksIsRefused)
{
    writeWholeFile(scratch.file("huge.bin"), std::string(10 * kBank, '\0'));
    expectRefused(run({"program", "--image", "huge.bin"}), 65, "holds 10 banks of 64 KB");
    // Bank 8 is the LD bank: a nine-bank image would fill it.
    writeWholeFile(scratch.file("nine.bin"), std::string(9 * kBank, '\0'));
    expectRefused(run({"program", "--image", "nine.bin"}), 65, "takes 8 (banks 0..7; bank 8 holds the LD file)");
}

TEST_F(CommandLine, EngineThatCannotBeLoadedIsStatus69)
{
    expectRefused(run({"program", file("b0.hex")}, {{"MVX_ENGINE", scratch.file("none.so")}}), 69,
                  "cannot load the engine library");
    expectRefused(run({"info", "--engine", file("fake.so"), "b0.hex"}), 69, "fake.so");
}

TEST_F(CommandLine, DefaultEngineIsTheOneInLibBesideTheProgram)
{
    const std::string expected =
        std::filesystem::path(MVXISP_PROGRAM).parent_path().string() + "/../lib/libMVXISP.so";
    const auto candidates = mvx::tool::engineCandidates(MVXISP_PROGRAM);
    ASSERT_FALSE(candidates.empty());
    EXPECT_EQ(candidates[0], expected);
    // Without --engine and $MVX_ENGINE the build's engine answers: a text
    // without records is an empty HEX image.
    const Outcome result = runMvxisp({"info", file("b0.hex")}, {}, scratch);
    ASSERT_EQ(result.status, 0) << result.err;
    ASSERT_EQ(result.outLines().size(), 2u);
    EXPECT_EQ(result.outLines()[1].rfind("Bank0 (0-64)     b0.hex ", 0), 0u) << result.out;
}

TEST_F(CommandLine, LogFileThatCannotBeWrittenIsStatus73)
{
    expectRefused(run({"program", "--log", scratch.file("no/such/folder/log.txt"), file("b0.hex")}), 73,
                  "cannot write the log file");
}

TEST_F(CommandLine, UsageErrorInJsonModeEndsWithAResultObject)
{
    const Outcome result = run({"program", "--json", "--brand", "xyz", file("b0.hex")});
    EXPECT_EQ(result.status, 64);
    EXPECT_EQ(result.out,
              "{\"type\":\"result\",\"command\":\"program\",\"status\":64,\"meaning\":\"wrong command, option or "
              "value\",\"passed\":false,\"error\":\"--brand: 'xyz' is not one of pmc, winbond, mxic, eon, sst, "
              "amic\"}\n");
}

TEST_F(CommandLine, NoCommandAtAllIsAUsageError)
{
    const Outcome result = run({});
    EXPECT_EQ(result.status, 64);
    EXPECT_EQ(result.errLines().size(), 1u);
}

// ---- help ----

TEST_F(CommandLine, EveryCommandHasHelpWithItsOptionsAndExamples)
{
    for (const cli::CommandInfo& command : cli::commands()) {
        const std::string name(command.name);
        const Outcome result = run({name, "--help"});
        EXPECT_EQ(result.status, 0) << name;
        EXPECT_EQ(result.out.rfind("Usage: mvxisp " + name, 0), 0u) << name;
        const auto examples = result.out.find("\nExamples:\n");
        ASSERT_NE(examples, std::string::npos) << name;
        EXPECT_NE(result.out.find("\n  mvxisp " + name + " ", examples), std::string::npos) << name;
        for (const cli::OptionSpec& option : cli::optionsOf(command))
            EXPECT_NE(result.out.find("--" + std::string(option.name)), std::string::npos) << name << option.name;
        EXPECT_EQ(run({"help", name}).out, result.out) << name;
    }
    const Outcome overview = run({"--help"});
    EXPECT_EQ(overview.status, 0);
    for (const cli::CommandInfo& command : cli::commands())
        EXPECT_NE(overview.out.find("\n  " + std::string(command.name) + " "), std::string::npos) << command.name;
}

// ---- the option parser ----

TEST(Arguments, ValuesAttachedOrFollowingAndRepeatsInOrder)
{
    const cli::OptionSpec specs[] = {{"ld", 0, "FILE", "", true}, {"erase", 0, "TYPE", ""}, {"quiet", 'q', "", ""}};
    const std::vector<std::string> words{"--ld=a", "x", "--erase", "page", "-q", "--ld", "b", "--", "--ld"};
    const auto parsed = cli::parseArguments(words, specs);
    ASSERT_TRUE(parsed.ok()) << parsed.error;
    EXPECT_EQ(parsed.arguments.values("ld"), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(parsed.arguments.value("erase"), "page");
    EXPECT_TRUE(parsed.arguments.has("quiet"));
    EXPECT_EQ(parsed.arguments.positional, (std::vector<std::string>{"x", "--ld"}));
    const std::vector<std::string> flagWithValue{"--quiet=1"};
    EXPECT_EQ(cli::parseArguments(flagWithValue, specs).error, "option --quiet takes no value");
}

TEST(Arguments, NumbersAndBankLists)
{
    EXPECT_EQ(cli::parseNumber("0x5A"), 0x5A);
    EXPECT_EQ(cli::parseNumber("-1"), -1);
    EXPECT_FALSE(cli::parseNumber("0x"));
    EXPECT_FALSE(cli::parseNumber("12k"));
    EXPECT_FALSE(cli::parseNumber("+3"));
    EXPECT_FALSE(cli::parseNumber("99999999999"));
    std::string error;
    EXPECT_EQ(cli::parseBankList("banks", "0,2-4,8", 0, 8, &error), 0b100011101u);
    EXPECT_FALSE(cli::parseBankList("banks", "3-1", 0, 8, &error));
    EXPECT_FALSE(cli::parseBankList("banks", "1,,2", 0, 8, &error));
    EXPECT_FALSE(cli::parseBankList("banks", "9", 0, 8, &error));
    EXPECT_EQ(error, "--banks: 9 is outside 0..8");
}

}  // namespace
}  // namespace mvx::test
