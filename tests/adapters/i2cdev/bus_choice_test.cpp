// Which bus the library opens and which address its probe uses: environment
// first, then the registry store, and a clear problem when neither says.
#include "mvx/i2cdev/bus_choice.hpp"

#include <gtest/gtest.h>

#include "temp_folder.hpp"

using mvx::i2cdev::addressFrom;
using mvx::i2cdev::BusChoice;
using mvx::i2cdev::busPathFrom;
using mvx::i2cdev::chooseBus;
using mvx::test::ScopedEnv;
using mvx::test::TempFolder;

namespace {

class BusChoiceTest : public ::testing::Test {
protected:
    TempFolder folder;
    mvx::platform::RegistryStore registry{folder.file("registry.ini")};
    ScopedEnv bus{"MVX_I2C_BUS", nullptr};
    ScopedEnv target{"MVX_I2C_TARGET", nullptr};
    ScopedEnv board{"MVX_I2CDEV_VIRTUAL_BOARD", nullptr};
};

}  // namespace

// ---- values ----

TEST(BusText, NumbersNamesAndPathsBecomeBusNodes)
{
    EXPECT_EQ(busPathFrom("3"), "/dev/i2c-3");
    EXPECT_EQ(busPathFrom(" 12 "), "/dev/i2c-12");
    EXPECT_EQ(busPathFrom("i2c-4"), "/dev/i2c-4");
    EXPECT_EQ(busPathFrom("/dev/i2c-7"), "/dev/i2c-7");
    EXPECT_FALSE(busPathFrom(""));
    EXPECT_FALSE(busPathFrom("abc"));
    EXPECT_FALSE(busPathFrom("-1"));
    EXPECT_FALSE(busPathFrom("3x"));
    EXPECT_FALSE(busPathFrom("i2c-"));
}

TEST(BusText, AddressesAreEightBitDecimalOrHex)
{
    EXPECT_EQ(addressFrom("0x94"), 0x94);
    EXPECT_EQ(addressFrom("0X98"), 0x98);
    EXPECT_EQ(addressFrom("148"), 148);
    EXPECT_FALSE(addressFrom("0x1FF"));
    EXPECT_FALSE(addressFrom("256"));
    EXPECT_FALSE(addressFrom("x"));
    EXPECT_FALSE(addressFrom(""));
}

// ---- where the choice comes from ----

TEST_F(BusChoiceTest, EnvironmentBeatsTheRegistry)
{
    ASSERT_FALSE(registry.writeString(mvx::i2cdev::kRegistryKey, mvx::i2cdev::kBusValue, "3"));
    ScopedEnv chosen("MVX_I2C_BUS", "5");
    const BusChoice choice = chooseBus(registry);
    EXPECT_EQ(choice.kind, BusChoice::Kind::Device);
    EXPECT_EQ(choice.path, "/dev/i2c-5");
    EXPECT_EQ(choice.probeAddress, 0x94);
}

TEST_F(BusChoiceTest, RegistryTextOrDwordNamesTheBus)
{
    ASSERT_FALSE(registry.writeString(mvx::i2cdev::kRegistryKey, mvx::i2cdev::kBusValue, "/dev/i2c-9"));
    EXPECT_EQ(chooseBus(registry).path, "/dev/i2c-9");
    ASSERT_FALSE(registry.writeDword(mvx::i2cdev::kRegistryKey, mvx::i2cdev::kBusValue, 2));
    const BusChoice choice = chooseBus(registry);
    EXPECT_EQ(choice.kind, BusChoice::Kind::Device);
    EXPECT_EQ(choice.path, "/dev/i2c-2");
}

TEST_F(BusChoiceTest, VirtualBoardFolderBeatsBoth)
{
    ScopedEnv chosen("MVX_I2C_BUS", "5");
    ScopedEnv virtualBoard("MVX_I2CDEV_VIRTUAL_BOARD", folder.path().c_str());
    const BusChoice choice = chooseBus(registry);
    EXPECT_EQ(choice.kind, BusChoice::Kind::VirtualBoard);
    EXPECT_EQ(choice.path, folder.path());
}

TEST_F(BusChoiceTest, NothingChosenExplainsHowToChoose)
{
    ScopedEnv empty("MVX_I2C_BUS", "  ");
    const BusChoice choice = chooseBus(registry);
    EXPECT_EQ(choice.kind, BusChoice::Kind::None);
    EXPECT_NE(choice.problem.find("no I2C bus chosen"), std::string::npos) << choice.problem;
    EXPECT_NE(choice.problem.find("MVX_I2C_BUS"), std::string::npos);
    EXPECT_NE(choice.problem.find("MVX I2C Bus"), std::string::npos);
}

TEST_F(BusChoiceTest, UnreadableValuesAreProblemsNotGuesses)
{
    {
        ScopedEnv chosen("MVX_I2C_BUS", "vga");
        const BusChoice choice = chooseBus(registry);
        EXPECT_EQ(choice.kind, BusChoice::Kind::None);
        EXPECT_NE(choice.problem.find("\"vga\""), std::string::npos) << choice.problem;
    }
    ASSERT_FALSE(registry.writeString(mvx::i2cdev::kRegistryKey, mvx::i2cdev::kBusValue, "card0"));
    const BusChoice choice = chooseBus(registry);
    EXPECT_EQ(choice.kind, BusChoice::Kind::None);
    EXPECT_NE(choice.problem.find("\"card0\""), std::string::npos) << choice.problem;
}

// ---- the probe address ----

TEST_F(BusChoiceTest, ProbeAddressFromEnvironmentThenRegistry)
{
    ScopedEnv chosen("MVX_I2C_BUS", "1");
    ASSERT_FALSE(registry.writeDword(mvx::i2cdev::kRegistryKey, mvx::i2cdev::kTargetValue, 0x96));
    EXPECT_EQ(chooseBus(registry).probeAddress, 0x96);
    ASSERT_FALSE(registry.writeString(mvx::i2cdev::kRegistryKey, mvx::i2cdev::kTargetValue, "0x9A"));
    EXPECT_EQ(chooseBus(registry).probeAddress, 0x9A);
    ScopedEnv probe("MVX_I2C_TARGET", "0x98");
    EXPECT_EQ(chooseBus(registry).probeAddress, 0x98);
}

TEST_F(BusChoiceTest, BadProbeAddressIsAProblem)
{
    ScopedEnv chosen("MVX_I2C_BUS", "1");
    {
        ScopedEnv probe("MVX_I2C_TARGET", "0x194");
        const BusChoice choice = chooseBus(registry);
        EXPECT_EQ(choice.kind, BusChoice::Kind::None);
        EXPECT_NE(choice.problem.find("MVX_I2C_TARGET"), std::string::npos) << choice.problem;
    }
    ASSERT_FALSE(registry.writeDword(mvx::i2cdev::kRegistryKey, mvx::i2cdev::kTargetValue, 0x100));
    EXPECT_EQ(chooseBus(registry).kind, BusChoice::Kind::None);
}
