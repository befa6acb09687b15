// The job building both front ends share: the rows' labels and texts, and the
// mvxISP call of an ISP file's job with the station's overrides.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "job/isp_call.hpp"
#include "job/rsp_job.hpp"
#include "temp_folder.hpp"

using namespace mvx::job;

// ---- the rows -------------------------------------------------------------------------

TEST(Rows, LabelsFollowTheOperationsBanks)
{
    struct Case {
        int operation;
        int bank;
        const char* label;
    };
    const Case cases[] = {
        {MVX_OP_MCU_5310, 1, "Bank1 (64-96)"},          {MVX_OP_5310_1TO4, 0, "Bank0 (0-64)"},
        {MVX_OP_MCU_5312, 2, "Bank2 (128-160)"},        {MVX_OP_MCU_5312, 3, "Bank3"},
        {MVX_OP_SERIAL_FLASH, 7, "Bank7 (448-512)"},    {MVX_OP_SERIAL_FLASH, 8, "BankN (LD File)"},
        {MVX_OP_SERIAL_FLASH_1TO4, 12, "Bank12"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(bankLabel(c.operation, c.bank), c.label) << c.operation << "/" << c.bank;
}

TEST(Rows, ChecksumTextAndFileFormat)
{
    EXPECT_EQ(checksumText(0x1F), "001F");
    EXPECT_EQ(checksumText(0), "0000");
    EXPECT_EQ(checksumText(0x12ABC), "12ABC");
    EXPECT_EQ(bankFileFormat("fw/BANK0.BIN"), MVX_FORMAT_BINARY);
    EXPECT_EQ(bankFileFormat("fw/bank0.bin.hex"), MVX_FORMAT_HEX);
    EXPECT_EQ(bankFileFormat("fw.bin/bank0"), MVX_FORMAT_HEX);
}

// ---- an ISP file's job ------------------------------------------------------------------

class RspCall : public ::testing::Test {
protected:
    RspCall()
    {
        mvx::test::writeWholeFile(folder.file("image1.hex"), ":00000001FF\n");
        job.mode = MVX_OP_SERIAL_FLASH;
        job.options.interface = MVX_ADAPTER_NORVANE_USB;
        job.options.ispaddr = 1;
        job.images[0] = {"image1.hex", folder.file("image1.hex"), true, MVX_FORMAT_HEX};
    }
    mvx::test::TempFolder folder;
    RspJob job;
};

TEST_F(RspCall, SelectedImagesFillTheirRowsOfTheTable)
{
    const Built built = buildRspRun(job, {}, folder.path());
    ASSERT_EQ(built.status, 0) << built.error;
    const auto& table = built.plan.call.table;
    EXPECT_EQ(table[0].inUse, 1);
    EXPECT_EQ(std::string(table[0].path), folder.file("image1.hex"));
    EXPECT_EQ(table[1].inUse, 0);
    EXPECT_EQ(built.plan.call.adapterKind, MVX_ADAPTER_NORVANE_USB);
    EXPECT_FALSE(built.plan.libraryMode) << "decided from the interface at run time";
}

TEST_F(RspCall, OverridesTakeTheBusAndTheAddress)
{
    job.options.ispaddr = 0;   // a typed-in address, which the file does not carry
    EXPECT_EQ(buildRspRun(job, {}, folder.path()).status, kStatusBadData);

    JobOverrides overrides;
    overrides.bus = "/dev/i2c-3";
    overrides.slaveSelector = 0x96;
    const Built built = buildRspRun(job, overrides, folder.path());
    ASSERT_EQ(built.status, 0) << built.error;
    EXPECT_EQ(built.plan.call.slaveSelector, 0x96);
    EXPECT_EQ(built.plan.call.adapterKind, MVX_ADAPTER_NORVANE_IIC);
    EXPECT_EQ(built.plan.libraryMode, 1);
    EXPECT_EQ(built.plan.bus, "/dev/i2c-3");
}

TEST_F(RspCall, OneToFourJobTakesTheStationsLdCopies)
{
    job.mode = MVX_OP_SERIAL_FLASH_1TO4;
    EXPECT_EQ(buildRspRun(job, {}, folder.path()).status, kStatusNoInput) << "no stored LD copies yet";
    for (int n = 1; n <= 4; ++n)
        mvx::test::writeWholeFile(folder.file("SFfile" + std::to_string(n)), ":00000001FF\n");
    const Built built = buildRspRun(job, {}, folder.path());
    ASSERT_EQ(built.status, 0) << built.error;
    EXPECT_EQ(built.plan.call.adapterKind, MVX_ADAPTER_NORVANE_IIC) << "the writer board hangs on the IIC cable";
    const std::vector<int> entries(ldEntriesOf(job.mode).begin(), ldEntriesOf(job.mode).end());
    EXPECT_EQ(entries, (std::vector<int>{22, 23, 25, 26}));
    for (int n = 1; n <= 4; ++n)
        EXPECT_EQ(std::string(built.plan.call.table[static_cast<std::size_t>(entries[static_cast<std::size_t>(n - 1)])].path),
                  folder.file("SFfile" + std::to_string(n)));
}
