// mvxisp buses over a fake /sys and /dev: the adapter, connector and monitor
// of each bus, the warnings, what is probed, and the EDID reader.
#include <gtest/gtest.h>

#include <filesystem>

#include "cli_process.hpp"
#include "edid.hpp"

namespace mvx::test {
namespace {

namespace fs = std::filesystem;

// A 128-byte EDID base block of maker "DEL", product 0xA0B4, with a monitor
// name descriptor (when name is not empty) and a correct checksum.
std::string edidBlock(const std::string& name)
{
    std::string block(128, '\0');
    const char header[] = {0, '\xFF', '\xFF', '\xFF', '\xFF', '\xFF', '\xFF', 0};
    block.replace(0, 8, header, 8);
    block[8] = 0x10;   // D=4, E=5, L=12: 00100 00101 01100
    block[9] = static_cast<char>(0xAC);
    block[10] = static_cast<char>(0xB4);
    block[11] = static_cast<char>(0xA0);
    if (!name.empty()) {
        const std::size_t at = 72;
        block[at + 3] = static_cast<char>(0xFC);
        std::string text = name.substr(0, 13);
        if (text.size() < 13)
            text += '\n';
        text.resize(13, ' ');
        block.replace(at + 5, 13, text);
    }
    unsigned sum = 0;
    for (std::size_t i = 0; i < 127; ++i)
        sum += static_cast<unsigned char>(block[i]);
    block[127] = static_cast<char>((256 - sum % 256) % 256);
    return block;
}

class Buses : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directories(sys());
        fs::create_directories(dev());
    }
    std::string sys() const { return scratch.file("sys"); }
    std::string dev() const { return scratch.file("dev"); }
    void adapter(int number, const std::string& name)
    {
        const std::string folder = sys() + "/bus/i2c/devices/i2c-" + std::to_string(number);
        fs::create_directories(folder);
        writeWholeFile(folder + "/name", name + "\n");
        writeWholeFile(dev() + "/i2c-" + std::to_string(number), "");
    }
    void connector(const std::string& name, int bus, const std::string& status, const std::string& enabled,
                   const std::string& edid)
    {
        const std::string folder = sys() + "/class/drm/" + name;
        fs::create_directories(folder);
        fs::create_directory_symlink("../../../bus/i2c/devices/i2c-" + std::to_string(bus), folder + "/ddc");
        writeWholeFile(folder + "/status", status + "\n");
        writeWholeFile(folder + "/enabled", enabled + "\n");
        writeWholeFile(folder + "/edid", edid);
    }
    void client(const std::string& name, const std::string& driver)
    {
        fs::create_directories(sys() + "/bus/i2c/drivers/" + driver);
        const std::string folder = sys() + "/bus/i2c/devices/" + name;
        fs::create_directories(folder);
        fs::create_directory_symlink("../../../../bus/i2c/drivers/" + driver, folder + "/driver");
    }
    Outcome list(const std::vector<std::string>& args = {})
    {
        std::vector<std::string> all{"buses"};
        all.insert(all.end(), args.begin(), args.end());
        return runMvxisp(all, {{"MVX_SYSFS_ROOT", sys()}, {"MVX_DEV_ROOT", dev()}}, scratch);
    }
    TempFolder scratch;
};

TEST_F(Buses, NoBusesIsOneLineAndSuccess)
{
    const Outcome result = list();
    EXPECT_EQ(result.status, 0);
    ASSERT_EQ(result.outLines().size(), 1u);
    EXPECT_EQ(result.outLines()[0].rfind("no I2C buses found", 0), 0u);
}

TEST_F(Buses, DisplayBusShowsItsConnectorMonitorAndWarnings)
{
    adapter(3, "i915 gmbus dpb");
    connector("card0-HDMI-A-1", 3, "connected", "enabled", edidBlock("TEST MONITOR"));
    client("3-0037", "ddcci");
    const Outcome result = list();
    ASSERT_EQ(result.status, 0) << result.err;
    const auto lines = result.outLines();
    ASSERT_GE(lines.size(), 5u) << result.out;
    EXPECT_EQ(lines[0], "i2c-3  " + dev() + "/i2c-3  \"i915 gmbus dpb\"");
    EXPECT_EQ(lines[1], "    connector  card0-HDMI-A-1 (connected, enabled)");
    EXPECT_EQ(lines[2], "    monitor    TEST MONITOR (sysfs EDID)");
    // A fake node answers no ioctl: the probe cannot tell.
    EXPECT_EQ(lines[3].rfind("    ISP port   0x94: unknown (", 0), 0u) << lines[3];
    EXPECT_EQ(countOf(result.out, "    warning    the ddcci driver holds this bus (client 3-0037)"), 1);
    EXPECT_EQ(countOf(result.out, "    warning    connector card0-HDMI-A-1 drives an active display"), 1);
}

TEST_F(Buses, OtherBusesAreListedButNotProbedUnlessAsked)
{
    adapter(3, "i915 gmbus dpb");
    connector("card0-HDMI-A-1", 3, "disconnected", "disabled", "");
    adapter(7, "SMBus I801 adapter");
    const Outcome all = list();
    ASSERT_EQ(all.status, 0);
    EXPECT_EQ(countOf(all.out, "warning"), 0);
    EXPECT_EQ(countOf(all.out, "i2c-7  " + dev() + "/i2c-7  \"SMBus I801 adapter\"\n"
                               "    ISP port   0x94: not probed: no display connector"),
              1)
        << all.out;
    const Outcome named = list({"7"});
    ASSERT_EQ(named.status, 0);
    EXPECT_EQ(countOf("\n" + named.out, "\ni2c-"), 1) << named.out;
    EXPECT_EQ(countOf(named.out, "0x94: unknown ("), 1) << named.out;
}

TEST_F(Buses, JsonGivesOneObjectPerBusAndAResult)
{
    adapter(3, "i915 gmbus dpb");
    connector("card0-DP-1", 3, "connected", "disabled", edidBlock(""));
    const Outcome result = list({"--json", "--address", "0x96"});
    ASSERT_EQ(result.status, 0) << result.err;
    const auto lines = result.outLines();
    ASSERT_EQ(lines.size(), 2u) << result.out;
    EXPECT_EQ(lines[0].rfind("{\"type\":\"bus\",\"number\":3,", 0), 0u);
    EXPECT_NE(lines[0].find("\"connector\":\"card0-DP-1\""), std::string::npos);
    EXPECT_NE(lines[0].find("\"monitor\":\"DEL a0b4\""), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("\"isp_address\":150,\"isp_port\":\"unknown\""), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("\"warnings\":[]"), std::string::npos);
    EXPECT_EQ(lines[1], "{\"type\":\"result\",\"command\":\"buses\",\"status\":0,\"meaning\":\"success\","
                        "\"passed\":true,\"buses\":1}");
}

TEST_F(Buses, NodeMissingWithoutTheI2cDevModule)
{
    fs::create_directories(sys() + "/bus/i2c/devices/i2c-4");
    writeWholeFile(sys() + "/bus/i2c/devices/i2c-4/name", "AUX B/DDI B/PHY B\n");
    const Outcome result = list();
    ASSERT_EQ(result.status, 0);
    EXPECT_EQ(countOf(result.out, "0x94: no " + dev() + "/i2c-4 (load i2c-dev: sudo modprobe i2c-dev)"), 1)
        << result.out;
}

// ---- EDID ----

TEST(Edid, NameMakerAndProductComeFromTheBaseBlock)
{
    const std::string block = edidBlock("DELL U2415");
    const auto edid = cli::parseEdid(std::span(reinterpret_cast<const std::uint8_t*>(block.data()), block.size()));
    ASSERT_TRUE(edid);
    EXPECT_EQ(edid->manufacturer, "DEL");
    EXPECT_EQ(edid->productCode, 0xA0B4);
    EXPECT_EQ(edid->name, "DELL U2415");
    EXPECT_TRUE(edid->checksumOk);
    EXPECT_EQ(cli::monitorText(*edid), "DELL U2415");
}

TEST(Edid, ThirteenCharacterNamesAndOddBytesAreKeptReadable)
{
    std::string block = edidBlock("ABCDEFGHIJKLM");
    block[72 + 6] = '\x01';
    const auto edid = cli::parseEdid(std::span(reinterpret_cast<const std::uint8_t*>(block.data()), block.size()));
    ASSERT_TRUE(edid);
    EXPECT_EQ(edid->name, "A?CDEFGHIJKLM");
    EXPECT_FALSE(edid->checksumOk);
}

TEST(Edid, ShortOrHeaderlessBytesAreNoEdid)
{
    const std::string block = edidBlock("X");
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(block.data());
    EXPECT_FALSE(cli::parseEdid(std::span(bytes, 127)));
    std::string broken = block;
    broken[1] = 0;
    EXPECT_FALSE(cli::parseEdid(std::span(reinterpret_cast<const std::uint8_t*>(broken.data()), broken.size())));
}

}  // namespace
}  // namespace mvx::test
