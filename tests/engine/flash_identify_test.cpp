// Identification of every part of the chip list, entering and leaving
// serial-flash ISP mode, and the write-protect pin.
#include "flash_identify.hpp"

#include <gtest/gtest.h>

#include <map>

#include "flash_commands.hpp"
#include "flash_erase.hpp"
#include "serial_flash_fixture.hpp"

namespace mvx::test {
namespace {

using engine::enterSerialFlashIsp;
using engine::leaveSerialFlashIsp;

struct ExpectedPart {
    int brand;       // message 14 sub (255 unknown chip)
    int index;       // message 14 lParam
    int idType;      // flash type in ID read mode 1
    int brandType;   // flash type in ID read mode 0, brand given
};

// The part list as the caller numbers it, with the types the erase and
// program variants key on.
const std::map<std::string, ExpectedPart> kParts{
    {"Pm25LV512A", {0, 0, 0, 0}},  {"Pm25LV010A", {0, 1, 1, 1}},  {"Pm25LV020", {0, 2, 2, 2}},
    {"Pm25LV040", {0, 3, 3, 2}},   {"Pm25LD010", {0, 4, 4, 4}},   {"Pm25LD020", {0, 5, 5, 5}},
    {"Pm25LD040", {0, 6, 6, 2}},   {"W25X10A", {1, 0, 0, 2}},     {"W25X20A", {1, 1, 1, 2}},
    {"W25X40A", {1, 2, 2, 2}},     {"W25X80A", {1, 3, 3, 2}},     {"MX25L1005", {2, 0, 0, 2}},
    {"MX25L2005", {2, 1, 1, 1}},   {"MX25L2026", {2, 2, 2, 2}},   {"MX25L4005", {2, 3, 3, 2}},
    {"MX25L8005", {2, 4, 4, 2}},   {"EN25F20", {3, 0, 0, 0}},     {"EN25F10", {3, 1, 1, 1}},
    {"SST25LF020A", {4, 0, 1, 1}}, {"SST25LF040A", {4, 1, 3, 3}}, {"SST25LF010A", {4, 2, 0, 1}},
    {"SST25LF080B", {4, 3, 4, 1}}, {"SST25VF020B", {4, 4, 2, 2}}, {"A25L020", {5, 0, 0, 2}},
    {"A25L010", {5, 1, 1, 2}},     {"unknown", {255, 0, 2, 2}},
};

class FlashIdentifyTest : public SerialFlashFixture {};

// ---- identification ----

TEST_F(FlashIdentifyTest, ByIdEveryPartIsReportedWithItsBrandAndIndex)
{
    for (const sim::FlashPart& part : sim::flashParts()) {
        SCOPED_TRACE(part.name);
        const auto expected = kParts.find(part.name);
        ASSERT_NE(expected, kParts.end()) << "part missing from the expectations";
        log.messages.clear();
        start(part.name);
        ctx->idReadMode = 1;
        ctx->flashBrand = MVX_BRAND_WINBOND;  // replaced by what is found

        ASSERT_EQ(enterSerialFlashIsp(*ctx), MVX_OK);
        const ExpectedPart& e = expected->second;
        EXPECT_EQ(log.messages, (std::vector<Message>{{MVX_MSG_FLASH_IDENTIFIED, e.brand, e.index}}));
        const int brand = e.brand == MVX_BRAND_UNKNOWN ? MVX_BRAND_PMC : e.brand;
        EXPECT_EQ(ctx->flashBrand, brand);
        EXPECT_EQ(ctx->detectedBrand, brand);
        EXPECT_EQ(ctx->flashType, e.idType);
        // A named part's size is known; an unknown chip's is not.
        EXPECT_EQ(ctx->flashSizeBytes, e.brand == MVX_BRAND_UNKNOWN ? 0u : part.sizeBytes);
    }
}

TEST_F(FlashIdentifyTest, ByBrandEveryPartGetsItsTypeWithoutAMessage)
{
    for (const sim::FlashPart& part : sim::flashParts()) {
        SCOPED_TRACE(part.name);
        const ExpectedPart& e = kParts.at(part.name);
        log.messages.clear();
        start(part.name);
        ctx->idReadMode = 0;
        ctx->flashType = 7;

        ASSERT_EQ(enterSerialFlashIsp(*ctx), MVX_OK);
        EXPECT_TRUE(log.messages.empty());
        EXPECT_EQ(ctx->flashBrand, brandOf(part.name));
        EXPECT_EQ(ctx->flashType, e.brandType);
        EXPECT_EQ(ctx->flashSizeBytes, 0u);
    }
}

TEST_F(FlashIdentifyTest, MxicPartsSharingAnIdAreToldApartBySignature)
{
    start("MX25L2026");
    ctx->idReadMode = 1;
    ASSERT_EQ(enterSerialFlashIsp(*ctx), MVX_OK);
    const auto signatureReads = std::count_if(adapter->writes.begin(), adapter->writes.end(), [](const auto& w) {
        return w.reg == 0x61 && w.data == std::vector<std::uint8_t>{0xAB};
    });
    EXPECT_EQ(signatureReads, 1);
}

// ---- entering and leaving ISP mode ----

TEST_F(FlashIdentifyTest, DeadLinkIsNotEnteredInTwoAttempts)
{
    sim::BoardConfig config;
    config.linkDead = true;
    start(config);
    EXPECT_EQ(enterSerialFlashIsp(*ctx), MVX_ERR_ISP_MODE);
    const auto enables = std::count_if(adapter->writes.begin(), adapter->writes.end(),
                                       [](const auto& w) { return w.reg == 0x6F; });
    EXPECT_EQ(enables, 2);
}

TEST_F(FlashIdentifyTest, EntryHoldsTheScalerInIspModeAndReappliesLibrarySettings)
{
    start();
    ctx->libraryMode = 1;
    ASSERT_EQ(enterSerialFlashIsp(*ctx), MVX_OK);
    EXPECT_TRUE(board->scaler()->ispEnabled());
    EXPECT_EQ(board->scaler()->registerValue(0xED), 0x88);
    EXPECT_EQ(board->scaler()->registerValue(0xEE), 0x04);
    EXPECT_EQ(board->scaler()->indirectValue(0x09) & 0x04, 0);
    EXPECT_EQ(adapter->reapplied, 1);
}

TEST_F(FlashIdentifyTest, SstEntryClearsThePowerUpProtection)
{
    start("SST25LF020A");
    ASSERT_NE(board->flash()->status() & 0x0C, 0);
    ASSERT_EQ(enterSerialFlashIsp(*ctx), MVX_OK);
    EXPECT_EQ(board->flash()->status() & 0x0C, 0);
}

TEST_F(FlashIdentifyTest, LeavingSetsStatusFCByDefault)
{
    start();
    ASSERT_EQ(enterSerialFlashIsp(*ctx), MVX_OK);
    EXPECT_EQ(leaveSerialFlashIsp(*ctx), MVX_OK);
    EXPECT_EQ(board->flash()->status() & 0x9C, 0x9C);
    EXPECT_EQ(board->scaler()->registerValue(0xEE), 0x06);
    EXPECT_EQ(board->scaler()->registerValue(0x62), 0xFF);  // controller reset
}

TEST_F(FlashIdentifyTest, LeavingSetsTheChosenStatusByte)
{
    start();
    ctx->options.fields.enable_setflashstatusafterisp = 1;
    ctx->options.fields.flashstatus_value = 0x00;
    ASSERT_EQ(enterSerialFlashIsp(*ctx), MVX_OK);
    EXPECT_EQ(leaveSerialFlashIsp(*ctx), MVX_OK);
    EXPECT_EQ(board->flash()->status() & 0x9C, 0x00);
}

TEST_F(FlashIdentifyTest, LeavingProtectsAnSstPart)
{
    start("SST25VF020B");
    ASSERT_EQ(enterSerialFlashIsp(*ctx), MVX_OK);
    ASSERT_EQ(board->flash()->status() & 0x0C, 0);
    EXPECT_EQ(leaveSerialFlashIsp(*ctx), MVX_OK);
    EXPECT_EQ(board->flash()->status() & 0x8C, 0x8C);
}

// ---- device CRC ----

TEST_F(FlashIdentifyTest, DeviceCrcCoversTheRangeUpToItsEndOffset)
{
    start();
    const auto data = firmwarePattern(300, 3);
    std::copy(data.begin(), data.end(), flash().begin() + 0x20000);
    ASSERT_EQ(enterSerialFlashIsp(*ctx), MVX_OK);
    EXPECT_EQ(engine::deviceCrc(*ctx->link, 2, 0x012B), referenceCrc8(data));
    EXPECT_EQ(engine::deviceCrc(*ctx->link, 3, 0xFFFF), engine::kBlankBankCrc);
}

// ---- write-protect pin ----

TEST_F(FlashIdentifyTest, ProtectPinSeries1SetsItsMuxIndirectlyAndDrivesTheLevel)
{
    start();
    ctx->protect = FlashProtectSettings{1, 1, 2, 1};
    engine::setUpWriteProtectPin(*ctx);
    EXPECT_EQ(board->scaler()->indirectValue(0x8B), 0xC3);
    EXPECT_EQ(board->scaler()->indirectValue(0x9F), 0x10);
    EXPECT_EQ(board->scaler()->indirectValue(0xAE), 0x08);
    EXPECT_EQ(board->scaler()->registerValue(0xD6), 0x01);
}

TEST_F(FlashIdentifyTest, ProtectPinSeries2ShiftsTheLevelToThePin)
{
    start();
    ctx->protect = FlashProtectSettings{1, 2, 3, 1};
    engine::setUpWriteProtectPin(*ctx);
    EXPECT_EQ(board->scaler()->indirectValue(0xB0), 0x40);
    EXPECT_EQ(board->scaler()->registerValue(0xE3), 0x80);
}

TEST_F(FlashIdentifyTest, ProtectPinSeries3Pin0DrivesBit7)
{
    start();
    ctx->protect = FlashProtectSettings{1, 3, 0, 1};
    engine::setUpWriteProtectPin(*ctx);
    EXPECT_EQ(board->scaler()->indirectValue(0xA2), 0x80);
    EXPECT_EQ(board->scaler()->registerValue(0xE3), 0x80);
}

TEST_F(FlashIdentifyTest, ProtectPinOutsideTheTablesOrDisabledTouchesNothing)
{
    start();
    for (const FlashProtectSettings settings : {FlashProtectSettings{1, 0, 4, 1}, FlashProtectSettings{1, 4, 0, 1},
                                                FlashProtectSettings{1, 2, -1, 1}, FlashProtectSettings{0, 0, 0, 1}}) {
        ctx->protect = settings;
        engine::setUpWriteProtectPin(*ctx);
    }
    EXPECT_EQ(adapter->accesses(), 0u);
}

}  // namespace
}  // namespace mvx::test
