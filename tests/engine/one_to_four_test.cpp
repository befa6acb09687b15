// The 1To4 operations (3, 4, 5): the information block on its own, and whole
// runs through the exports' entry on the virtual writer board, checked by what
// writer_m1.bin and writer_m2.bin hold afterwards.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "crc.hpp"
#include "mvx/sim/mcu.hpp"
#include "one_to_four_header.hpp"
#include "run.hpp"
#include "scaler_driver.hpp"
#include "temp_folder.hpp"

using mvx::engine::FlashHeaderFields;
using mvx::engine::IspArguments;
using mvx::engine::McuHeaderFields;
using mvx::engine::runIsp;
using mvx::engine::TargetBankSummary;
using mvx::engine::WriterChip;
using mvx::test::firmwarePattern;
using mvx::test::readWholeFile;
using mvx::test::ScopedEnv;
using mvx::test::TempFolder;
using mvx::test::writeWholeFile;

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kBank = 0x10000;
constexpr std::size_t kWriterFlash = 0x28000;
constexpr std::size_t kHeader = 0x3FAC;

int be16(const Bytes& image, std::size_t offset) { return image[offset] * 256 + image[offset + 1]; }

Bytes slice(const Bytes& bytes, std::size_t offset, std::size_t count)
{
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                 bytes.begin() + static_cast<std::ptrdiff_t>(offset + count));
}

Bytes padded(Bytes bytes, std::size_t size)
{
    bytes.resize(size, 0xFF);
    return bytes;
}

bool allErased(const Bytes& bytes, std::size_t from, std::size_t to)
{
    return std::all_of(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                       bytes.begin() + static_cast<std::ptrdiff_t>(to), [](std::uint8_t b) { return b == 0xFF; });
}

int byteSum(const Bytes& bytes) { return mvx::engine::byteChecksum(bytes); }
int crc8(const Bytes& bytes) { return mvx::engine::crc8Smbus(bytes); }

// Intel HEX with 16-byte data records, as the LD files come.
std::string intelHex(const Bytes& data)
{
    std::string text;
    char field[16];
    for (std::size_t at = 0; at < data.size(); at += 16) {
        const std::size_t count = std::min<std::size_t>(16, data.size() - at);
        unsigned sum = static_cast<unsigned>(count + (at >> 8) + (at & 0xFF));
        std::snprintf(field, sizeof field, ":%02X%04X00", static_cast<unsigned>(count), static_cast<unsigned>(at));
        text += field;
        for (std::size_t i = 0; i < count; ++i) {
            std::snprintf(field, sizeof field, "%02X", data[at + i]);
            text += field;
            sum += data[at + i];
        }
        std::snprintf(field, sizeof field, "%02X\r\n", (0x100 - (sum & 0xFF)) & 0xFF);
        text += field;
    }
    return text + ":00000001FF\r\n";
}

struct Message {
    int code;
    int sub;
    long value;
    bool operator==(const Message&) const = default;
};

struct RecordingWindow {
    std::vector<Message> messages;
    std::vector<std::string> boxes;
    MvxWindow window{this, &RecordingWindow::send, &RecordingWindow::box};

    static intptr_t send(void* self, uint32_t message, uintptr_t wParam, intptr_t lParam)
    {
        if (message == WM_ISP_PROGRESS)
            static_cast<RecordingWindow*>(self)->messages.push_back(
                {MVX_PROGRESS_CODE(wParam), MVX_PROGRESS_SUB(wParam), static_cast<long>(lParam)});
        return 0;
    }
    static int box(void* self, const char* text, const char*, uint32_t)
    {
        static_cast<RecordingWindow*>(self)->boxes.emplace_back(text);
        return MVX_IDOK;
    }
    std::vector<Message> withCode(int code) const
    {
        std::vector<Message> found;
        for (const Message& m : messages)
            if (m.code == code)
                found.push_back(m);
        return found;
    }
};

// A writer board in its own folder, named by MVX_VIRTUAL_BOARD.
struct WriterBoardFolder {
    explicit WriterBoardFolder(const std::string& extra = "")
    {
        writeWholeFile(folder.file("board.ini"), "[board]\ntarget=1to4\n" + extra);
    }
    Bytes m1() const { return read("writer_m1.bin"); }
    Bytes m2() const { return read("writer_m2.bin"); }
    // Both writers filled with `value` before a run, to see whether it touches them.
    void preset(std::uint8_t value) const
    {
        const std::string bytes(kWriterFlash, static_cast<char>(value));
        writeWholeFile(folder.file("writer_m1.bin"), bytes);
        writeWholeFile(folder.file("writer_m2.bin"), bytes);
    }
    Bytes read(const std::string& name) const
    {
        const std::string text = readWholeFile(folder.file(name));
        return Bytes(text.begin(), text.end());
    }
    TempFolder folder;
    ScopedEnv env{"MVX_VIRTUAL_BOARD", folder.path().c_str()};
};

// The files of one job and the table that names them.
struct JobFiles {
    JobFiles() : table(MVX_FILE_TABLE_SIZE) {}

    void ld(int entry, const Bytes& data)
    {
        add(entry, "ld" + std::to_string(entry) + ".hex", intelHex(data), MVX_FORMAT_HEX);
    }
    void bank(int entry, const Bytes& data)
    {
        add(entry, "bank" + std::to_string(entry) + ".bin", std::string(data.begin(), data.end()), MVX_FORMAT_BINARY);
    }
    void add(int entry, const std::string& name, const std::string& text, int format)
    {
        const std::string path = folder.file(name);
        writeWholeFile(path, text);
        FileTableEntry& row = table[static_cast<std::size_t>(entry)];
        row.inUse = 1;
        row.format = format;
        std::strcpy(row.path, path.c_str());
    }

    TempFolder folder;
    std::vector<FileTableEntry> table;
};

IspArguments oneToFourRun(int operation, const JobFiles& files, const RecordingWindow& window,
                          const IspOptions& options, int adapterKind = MVX_ADAPTER_NORVANE_IIC, int libraryMode = 0)
{
    IspArguments a;
    a.adapterKind = adapterKind;
    a.operation = operation;
    a.libraryMode = libraryMode;
    a.fileTable = files.table.data();
    a.ownerWindow = &window.window;
    a.options = &options;
    return a;
}

// Writer firmware: distinct patterns, short of the information block.
Bytes writerFirmware(unsigned seed, std::size_t length = 0x3000) { return firmwarePattern(length, seed); }

}  // namespace

// ---- the information block of the MCU operations ----

TEST(OneToFourHeader, Operation3StoresLengthMinusOneAndCrc8BehindFf)
{
    McuHeaderFields fields;
    fields.operation = MVX_OP_5310_1TO4;
    fields.banks[0] = {true, 0x10000, 0x1234, 0xAB};
    fields.banks[1] = {true, 0x5000, 0x0F0E, 0x07};
    fields.partialErase = true;
    fields.eraseLength = 0x5000 + 1;
    fields.checkConnectionDelay = 500;
    fields.showChecksumDelay = 1234;
    Bytes image(kBank, 0xFF);
    mvx::engine::writeMcuHeader(image, fields);

    EXPECT_EQ(be16(image, 0x3FAC), 0xFFFF);
    EXPECT_EQ(be16(image, 0x3FAE), 0x4FFF);
    EXPECT_EQ(be16(image, 0x3FB4), 0x1234);
    EXPECT_EQ(be16(image, 0x3FB6), 0x0F0E);
    EXPECT_EQ(be16(image, 0x3FBC), 0xFFAB);
    EXPECT_EQ(be16(image, 0x3FBE), 0xFF07);
    // Slots 2 and 3 are not banks of a 5310.
    for (std::size_t slot = 2; slot < 4; ++slot) {
        EXPECT_EQ(be16(image, 0x3FAC + 2 * slot), 0);
        EXPECT_EQ(be16(image, 0x3FB4 + 2 * slot), 0);
        EXPECT_EQ(be16(image, 0x3FBC + 2 * slot), 0xFFFF);
    }
    EXPECT_EQ(image[0x3FC4], 21);   // 20 KB and one byte, rounded up
    EXPECT_EQ(image[0x3FC5], 0x32);
    EXPECT_EQ(image[0x3FCC], 50);
    EXPECT_EQ(image[0x3FCD], 123);
    EXPECT_TRUE(allErased(image, 0x3FC6, 0x3FCC));
    EXPECT_TRUE(allErased(image, 0x3FCE, kBank));
    EXPECT_TRUE(allErased(image, 0, kHeader));
}

TEST(OneToFourHeader, Operation3WithoutPartialEraseAndSecondBank)
{
    McuHeaderFields fields;
    fields.operation = MVX_OP_5310_1TO4;
    fields.banks[0] = {true, 0x10000, 1, 2};
    fields.eraseLength = 0x8000;
    Bytes image(kBank, 0x00);
    mvx::engine::writeMcuHeader(image, fields);
    EXPECT_EQ(be16(image, 0x3FAE), 0);
    EXPECT_EQ(be16(image, 0x3FB6), 0);
    EXPECT_EQ(be16(image, 0x3FBE), 0xFFFF);
    EXPECT_EQ(image[0x3FC4], 0);
    EXPECT_EQ(image[0x3FC5], 0x30);
}

TEST(OneToFourHeader, Operation4WithBank2UnusedClearsBit6AndWritesChecksumFfff)
{
    McuHeaderFields fields;
    fields.operation = MVX_OP_5312_1TO4;
    fields.banks[0] = {true, 0x10000, 0x1111, 0xBEEF};
    fields.banks[1] = {true, 0x10000, 0x2222, 0x1234};
    fields.partialErase = true;
    fields.eraseLength = 3000;
    Bytes image(kBank, 0xFF);
    mvx::engine::writeMcuHeader(image, fields);

    EXPECT_EQ(be16(image, 0x3FB4), 0x1111);
    EXPECT_EQ(be16(image, 0x3FB6), 0x2222);
    EXPECT_EQ(be16(image, 0x3FBC), 0xBEEF);
    EXPECT_EQ(be16(image, 0x3FBE), 0x1234);
    EXPECT_EQ(be16(image, 0x3FB0), 0);        // bank 2: length 0
    EXPECT_EQ(be16(image, 0x3FB8), 0xFFFF);   // checksum 0xFFFF
    EXPECT_EQ(be16(image, 0x3FC0), 0xFFFF);
    EXPECT_EQ(image[0x3FC4], 3);
    EXPECT_EQ(image[0x3FC5], 0x76 & ~0x40);
    EXPECT_EQ(image[0x3FCC], 1);              // no delay still waits one unit
    EXPECT_EQ(image[0x3FCD], 0);
}

TEST(OneToFourHeader, Operation4FlagsFollowEachUnusedBank)
{
    McuHeaderFields fields;
    fields.operation = MVX_OP_5312_1TO4;
    fields.banks[1] = {true, 0x10000, 0, 0};
    Bytes image(kBank, 0xFF);
    mvx::engine::writeMcuHeader(image, fields);
    EXPECT_EQ(image[0x3FC5], 0x74 & ~0x10 & ~0x40);
    EXPECT_EQ(be16(image, 0x3FB4), 0xFFFF);
}

TEST(OneToFourHeader, DelaysAreClampedToOneByte)
{
    EXPECT_EQ(mvx::engine::headerDelayUnits(5, 1), 1);
    EXPECT_EQ(mvx::engine::headerDelayUnits(-40, 0), 0);
    EXPECT_EQ(mvx::engine::headerDelayUnits(99999, 1), 255);
}

TEST(OneToFourHeader, ShortImageIsLeftAlone)
{
    Bytes image(0x3FD0, 0xFF);
    mvx::engine::writeMcuHeader(image, McuHeaderFields{});
    mvx::engine::writeFlashHeader(image, WriterChip::M1, FlashHeaderFields{});
    EXPECT_TRUE(allErased(image, 0, image.size()));
}

// ---- the information block of the serial-flash operation ----

namespace {

FlashHeaderFields flashFields()
{
    FlashHeaderFields fields;
    fields.banks[0] = {true, 0x10000, 0x0102, 0x11};
    fields.banks[1] = {true, 0x6000, 0x0304, 0x22};
    fields.banks[2] = {true, 0x2800, 0x0506, 0x33};
    fields.banks[3] = {true, 0x7800, 0x0708, 0x44};
    fields.protect = {1, 2, 3, 1};
    fields.flashBrand = MVX_BRAND_WINBOND;
    fields.flashType = 3;
    fields.sectorEraseFlag = 1;
    fields.sectorEraseBank = 2;
    fields.idReadMode = 1;
    fields.checkIcCode = 1;
    fields.expectedIcCode = 0x155;
    fields.setE2E3 = 1;
    fields.e2Value = 0x112;
    fields.e3Value = 0x34;
    fields.checkConnectionDelay = 300;
    fields.showChecksumDelay = 70;
    return fields;
}

}  // namespace

TEST(OneToFourFlashHeader, M1BlockFieldByField)
{
    Bytes image(kBank, 0xFF);
    mvx::engine::writeFlashHeader(image, WriterChip::M1, flashFields());
    EXPECT_EQ(be16(image, 0x3FAC), 0x0000);   // 64 KB in a 16-bit field
    EXPECT_EQ(be16(image, 0x3FAE), 0x6000);
    EXPECT_EQ(be16(image, 0x3FB0), 0x2800);
    EXPECT_EQ(be16(image, 0x3FB2), 0x77FF);   // bank 3: length - 1
    EXPECT_EQ(slice(image, 0x3FB4, 8), (Bytes{0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08}));
    EXPECT_EQ(slice(image, 0x3FBC, 8), (Bytes{0xFF, 0x11, 0xFF, 0x22, 0xFF, 0x33, 0xFF, 0x44}));
    EXPECT_EQ(image[0x3FC4], 0x00);
    EXPECT_EQ(image[0x3FC5], 0xFA);
    EXPECT_EQ(image[0x3FC6], 0x80 | 0x20 | 0x06 | 0x01);
    EXPECT_EQ(slice(image, 0x3FC7, 3), (Bytes{0xB0, 0x40, 0xE3}));   // series 2, pin 3
    EXPECT_EQ(image[0x3FCA], 0x13);
    EXPECT_EQ(image[0x3FCB], 0x0F | (2 << 6));
    EXPECT_EQ(image[0x3FCC], 30);
    EXPECT_EQ(image[0x3FCD], 7);
    EXPECT_EQ(image[0x3FCE], 0x55);
    EXPECT_EQ(image[0x3FCF], 0x12);
    EXPECT_EQ(image[0x3FD0], 0x34);
    EXPECT_TRUE(allErased(image, 0, kHeader));
    EXPECT_TRUE(allErased(image, 0x3FD1, kBank));
}

TEST(OneToFourFlashHeader, M2BlockPacksTheCrcsAndHasItsOwnFlags)
{
    FlashHeaderFields fields = flashFields();
    fields.banks[2] = {};
    fields.banks[3] = {};
    Bytes image(kBank, 0xFF);
    mvx::engine::writeFlashHeader(image, WriterChip::M2, fields);
    EXPECT_EQ(be16(image, 0x3FB0), 0);
    EXPECT_EQ(be16(image, 0x3FB2), 0);
    EXPECT_EQ(be16(image, 0x3FB8), 0);
    EXPECT_EQ(be16(image, 0x3FBA), 0);
    EXPECT_EQ(slice(image, 0x3FBC, 4), (Bytes{0x11, 0x22, 0xFF, 0xFF}));
    EXPECT_EQ(image[0x3FC0], 0xF0 & ~0x40 & ~0x80);
    EXPECT_TRUE(allErased(image, 0x3FC1, 0x3FC6));
}

TEST(OneToFourFlashHeader, M1FlagsWithoutBanks2And3)
{
    FlashHeaderFields fields = flashFields();
    fields.banks[2] = {};
    Bytes image(kBank, 0xFF);
    mvx::engine::writeFlashHeader(image, WriterChip::M1, fields);
    EXPECT_EQ(image[0x3FC5], 0xBA);
    EXPECT_EQ(be16(image, 0x3FC0), 0xFFFF);
    fields.banks[3] = {};
    mvx::engine::writeFlashHeader(image, WriterChip::M1, fields);
    EXPECT_EQ(image[0x3FC5], 0x3A);
}

TEST(OneToFourFlashHeader, SstBrandAndSettingsWithoutATableRow)
{
    FlashHeaderFields fields = flashFields();
    fields.flashBrand = MVX_BRAND_SST;
    fields.flashType = 2;
    fields.protect = {0, 7, 9, 0};
    fields.sectorEraseFlag = 1;
    fields.sectorEraseBank = 5;   // not a bank of a writer board
    fields.idReadMode = 0;
    fields.checkIcCode = 0;
    fields.setE2E3 = 0;
    Bytes image(kBank, 0xFF);
    mvx::engine::writeFlashHeader(image, WriterChip::M1, fields);
    EXPECT_EQ(image[0x3FCA], 0xC2);
    EXPECT_EQ(image[0x3FC6], (7 << 4) | (1 << 1));
    EXPECT_EQ(slice(image, 0x3FC7, 3), (Bytes{0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(image[0x3FCB], 0x00);
}

// ---- whole runs: operation 3 ----

TEST(OneToFourRun, Operation3LoadsBothWritersOverTheCvtCable)
{
    WriterBoardFolder board;
    JobFiles files;
    const Bytes fw16 = writerFirmware(16), fw17 = writerFirmware(17), fw18 = writerFirmware(18),
                fw19 = writerFirmware(19, 0x3F00);
    files.ld(16, fw16);
    files.ld(17, fw17);
    files.ld(18, fw18);
    files.ld(19, fw19);
    const Bytes bank0 = firmwarePattern(kBank, 1);
    const Bytes bank1 = firmwarePattern(24 * 1024, 2);
    files.bank(0, bank0);
    files.bank(1, bank1);
    RecordingWindow window;
    IspOptions options{};
    options.checkVGAconn_delay = 500;
    options.beforeshowCKSM_delay = 0;

    ASSERT_EQ(runIsp(oneToFourRun(MVX_OP_5310_1TO4, files, window, options, MVX_ADAPTER_CVT_IIC)), MVX_OK);

    const Bytes m1 = board.m1();
    const Bytes m2 = board.m2();
    ASSERT_EQ(m1.size(), kWriterFlash);
    ASSERT_EQ(m2.size(), kWriterFlash);
    // Firmware from offset 0 of each writer bank.
    EXPECT_EQ(slice(m1, 0, fw16.size()), fw16);
    EXPECT_EQ(slice(m1, kBank, fw17.size()), fw17);
    EXPECT_EQ(slice(m2, 0, fw18.size()), fw18);
    EXPECT_EQ(slice(m2, kBank, fw19.size()), fw19);
    // Target bank 0 in two 32 KB halves, bank 1 (32 KB after the last-bank rule) in two 16 KB quarters.
    const Bytes last = padded(bank1, 0x8000);
    EXPECT_EQ(slice(m1, 0x4000, 0x8000), slice(bank0, 0, 0x8000));
    EXPECT_EQ(slice(m1, kBank + 0x4000, 0x8000), slice(bank0, 0x8000, 0x8000));
    EXPECT_EQ(slice(m1, 0xC000, 0x4000), slice(last, 0, 0x4000));
    EXPECT_EQ(slice(m1, kBank + 0xC000, 0x4000), slice(last, 0x4000, 0x4000));
    EXPECT_TRUE(allErased(m2, 0x4000, kBank));
    EXPECT_TRUE(allErased(m2, kBank + 0x3F00, 2 * kBank));
    EXPECT_TRUE(allErased(m1, 2 * kBank, kWriterFlash));

    // The block, and the same block in M2.
    EXPECT_EQ(be16(m1, 0x3FAC), 0xFFFF);
    EXPECT_EQ(be16(m1, 0x3FAE), 0x7FFF);
    EXPECT_EQ(be16(m1, 0x3FB4), byteSum(bank0));
    EXPECT_EQ(be16(m1, 0x3FB6), byteSum(last));
    EXPECT_EQ(be16(m1, 0x3FBC), 0xFF00 | crc8(bank0));
    EXPECT_EQ(be16(m1, 0x3FBE), 0xFF00 | crc8(last));
    EXPECT_EQ(slice(m1, 0x3FB0, 4), (Bytes{0, 0, 0, 0}));
    EXPECT_EQ(slice(m1, 0x3FC0, 4), (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(m1[0x3FC4], 0);
    EXPECT_EQ(m1[0x3FC5], 0x30);
    EXPECT_EQ(m1[0x3FCC], 50);
    EXPECT_EQ(m1[0x3FCD], 0);
    EXPECT_EQ(slice(m2, kHeader, 0x22), slice(m1, kHeader, 0x22));

    // Progress: the CRCs of the target banks, every writer bank to 100 %, the
    // checksum verdict under the first slot, then the end of the run.
    EXPECT_EQ(window.withCode(MVX_MSG_CRC_IMAGE),
              (std::vector<Message>{{3, 0, crc8(bank0)}, {3, 1, crc8(last)}}));
    for (int slot : {16, 17, 18, 19})
        EXPECT_NE(std::find(window.messages.begin(), window.messages.end(), Message{2, slot, 100}),
                  window.messages.end())
            << slot;
    const std::vector<Message> tail(window.messages.end() - 4, window.messages.end());
    EXPECT_EQ(tail, (std::vector<Message>{{8, 16, 1}, {12, 0, 0}, {9, 0, 0}, {13, 0, 100}}));
    EXPECT_TRUE(window.boxes.empty());
}

// ---- whole runs: operation 4 ----

TEST(OneToFourRun, Operation4PutsBank1OnM2AndPartialEraseInTheBlock)
{
    WriterBoardFolder board;
    JobFiles files;
    for (int slot = 9; slot <= 12; ++slot)
        files.ld(slot, writerFirmware(static_cast<unsigned>(slot)));
    const Bytes bank0 = firmwarePattern(kBank, 3);
    const Bytes bank1 = firmwarePattern(kBank, 4);
    const Bytes bank2 = firmwarePattern(16000, 5);
    files.bank(0, bank0);
    files.bank(1, bank1);
    files.bank(2, bank2);
    RecordingWindow window;
    IspOptions options{};
    options.checkVGAconn_delay = 5;
    options.beforeshowCKSM_delay = 2550;
    IspArguments a = oneToFourRun(MVX_OP_5312_1TO4, files, window, options);
    a.eraseMode = 1;
    a.eraseLength = 20480;

    ASSERT_EQ(runIsp(a), MVX_OK);

    const Bytes m1 = board.m1();
    const Bytes m2 = board.m2();
    const Bytes last = padded(bank2, 20480);
    EXPECT_EQ(slice(m1, 0, 0x3000), writerFirmware(9));
    EXPECT_EQ(slice(m1, kBank, 0x3000), writerFirmware(10));
    EXPECT_EQ(slice(m2, 0, 0x3000), writerFirmware(11));
    EXPECT_EQ(slice(m2, kBank, 0x3000), writerFirmware(12));
    EXPECT_EQ(slice(m1, 0x4000, 0x8000), slice(bank0, 0, 0x8000));
    EXPECT_EQ(slice(m1, kBank + 0x4000, 0x8000), slice(bank0, 0x8000, 0x8000));
    EXPECT_EQ(slice(m1, 0xC000, 0x4000), slice(last, 0, 0x4000));
    EXPECT_EQ(slice(m1, kBank + 0xC000, 0x1000), slice(last, 0x4000, 0x1000));
    EXPECT_TRUE(allErased(m1, kBank + 0xD000, 2 * kBank));
    EXPECT_EQ(slice(m2, 0x4000, 0x8000), slice(bank1, 0, 0x8000));
    EXPECT_EQ(slice(m2, kBank + 0x4000, 0x8000), slice(bank1, 0x8000, 0x8000));
    EXPECT_TRUE(allErased(m2, 0xC000, kBank));

    const auto wordSum = [](const Bytes& b) { return mvx::engine::wordChecksum(b); };
    const auto crc16 = [](const Bytes& b) { return mvx::engine::crc16Xmodem(b); };
    for (const Bytes* writer : {&m1, &m2}) {
        const Bytes& w = *writer;
        EXPECT_EQ(be16(w, 0x3FAC), 0x0000);   // 64 KB in a 16-bit field
        EXPECT_EQ(be16(w, 0x3FAE), 0x0000);
        EXPECT_EQ(be16(w, 0x3FB0), 20480);
        EXPECT_EQ(be16(w, 0x3FB4), wordSum(bank0));
        EXPECT_EQ(be16(w, 0x3FB6), wordSum(bank1));
        EXPECT_EQ(be16(w, 0x3FB8), wordSum(last));
        EXPECT_EQ(be16(w, 0x3FBC), crc16(bank0));
        EXPECT_EQ(be16(w, 0x3FBE), crc16(bank1));
        EXPECT_EQ(be16(w, 0x3FC0), crc16(last));
        EXPECT_EQ(w[0x3FC4], 20);
        EXPECT_EQ(w[0x3FC5], 0x76);
        EXPECT_EQ(w[0x3FCC], 1);
        EXPECT_EQ(w[0x3FCD], 255);
    }
    EXPECT_EQ(window.withCode(MVX_MSG_CRC_IMAGE),
              (std::vector<Message>{{3, 0, crc16(bank0)}, {3, 2, crc16(last)}, {3, 1, crc16(bank1)}}));
}

// ---- whole runs: operation 5 ----

namespace {

struct FlashJob {
    FlashJob()
    {
        files.ld(22, fw22);
        files.ld(23, fw23);
        files.ld(25, fw25);
        files.ld(26, fw26);
        files.bank(0, bank0);
        files.bank(1, bank1);
        files.bank(2, bank2);
        files.bank(3, bank3);
        options.checkVGAconn_delay = 300;
        options.beforeshowCKSM_delay = 1234;
        options.enable_sete2e3output = 1;
        options.ffe2_value = 0x12;
        options.ffe3_value = 0x34;
        options.enable_check_ic_code_before_isp = 1;
        options.ic_code_check_value = 0x55;
    }
    IspArguments run(const RecordingWindow& window, int libraryMode)
    {
        IspArguments a = oneToFourRun(MVX_OP_SERIAL_FLASH_1TO4, files, window, options, MVX_ADAPTER_NORVANE_IIC,
                                      libraryMode);
        a.flashBrand = MVX_BRAND_SST;
        a.idReadMode = 1;
        a.sectorEraseFlag = 1;
        a.sectorEraseBank = 1;
        a.protectSettings = &protect;
        return a;
    }

    // M1's firmware reaches into page 0x3F; M2's covers the block's bytes too.
    Bytes fw22 = writerFirmware(22, 0x3FA0), fw23 = writerFirmware(23), fw25 = writerFirmware(25, 0x4000),
          fw26 = writerFirmware(26);
    Bytes bank0 = firmwarePattern(kBank, 6), bank1 = firmwarePattern(20480, 7), bank2 = firmwarePattern(10240, 8),
          bank3 = firmwarePattern(30720, 9);
    JobFiles files;
    IspOptions options{};
    FlashProtectSettings protect{1, 2, 3, 1};
};

}  // namespace

TEST(OneToFourRun, Operation5LoadsBothWritersWithThirdPassAndBlocks)
{
    WriterBoardFolder board;
    FlashJob job;
    RecordingWindow window;
    ASSERT_EQ(runIsp(job.run(window, 1)), MVX_OK);

    const Bytes m1 = board.m1();
    const Bytes m2 = board.m2();
    // Bank 1 is the sector-erase bank: 20 KB aligns up to 24 KB.
    const Bytes b1 = padded(job.bank1, 0x6000);
    EXPECT_EQ(slice(m1, 0, 0x3FA0), job.fw22);
    EXPECT_EQ(slice(m1, kBank, 0x3000), job.fw23);
    EXPECT_EQ(slice(m2, 0, kHeader), slice(job.fw25, 0, kHeader));
    EXPECT_EQ(slice(m2, 0x3FD1, 0x2F), slice(job.fw25, 0x3FD1, 0x2F));
    EXPECT_EQ(slice(m2, kBank, 0x3000), job.fw26);
    EXPECT_EQ(slice(m1, 0x4000, 0x8000), slice(job.bank0, 0, 0x8000));
    EXPECT_EQ(slice(m1, kBank + 0x4000, 0x8000), slice(job.bank0, 0x8000, 0x8000));
    EXPECT_EQ(slice(m2, 0x4000, 0x6000), b1);
    EXPECT_TRUE(allErased(m2, kBank + 0x4000, kBank + 0xC000));
    for (const Bytes* writer : {&m1, &m2}) {
        EXPECT_EQ(slice(*writer, 0xC000, 0x2800), job.bank2);
        EXPECT_TRUE(allErased(*writer, 0xE800, kBank));
        EXPECT_TRUE(allErased(*writer, kBank + 0xC000, 2 * kBank));
        EXPECT_EQ(slice(*writer, 2 * kBank, 30720), job.bank3);
        EXPECT_TRUE(allErased(*writer, 2 * kBank + 30720, kWriterFlash));
    }

    // The shared fields of both blocks.
    const std::vector<int> crcs{crc8(job.bank0), crc8(b1), crc8(job.bank2), crc8(job.bank3)};
    for (const Bytes* writer : {&m1, &m2}) {
        const Bytes& w = *writer;
        EXPECT_EQ(be16(w, 0x3FAC), 0x0000);
        EXPECT_EQ(be16(w, 0x3FAE), 0x6000);
        EXPECT_EQ(be16(w, 0x3FB0), 10240);
        EXPECT_EQ(be16(w, 0x3FB2), 30720 - 1);
        EXPECT_EQ(be16(w, 0x3FB4), byteSum(job.bank0));
        EXPECT_EQ(be16(w, 0x3FB6), byteSum(padded(job.bank1, kBank)));
        EXPECT_EQ(be16(w, 0x3FB8), byteSum(padded(job.bank2, kBank)));
        EXPECT_EQ(be16(w, 0x3FBA), byteSum(padded(job.bank3, kBank)));
        EXPECT_EQ(w[0x3FC6], 0xA7);
        EXPECT_EQ(slice(w, 0x3FC7, 3), (Bytes{0xB0, 0x40, 0xE3}));
        EXPECT_EQ(w[0x3FCA], 0xC2);
        EXPECT_EQ(w[0x3FCB], 0x0F | (1 << 6));
        EXPECT_EQ(w[0x3FCC], 30);
        EXPECT_EQ(w[0x3FCD], 123);
        EXPECT_EQ(w[0x3FCE], 0x55);
        EXPECT_EQ(w[0x3FCF], 0x12);
        EXPECT_EQ(w[0x3FD0], 0x34);
    }
    // M1 puts 0xFF before each CRC; M2 packs them, and whatever its firmware
    // file held in the block's other bytes stays erased.
    EXPECT_EQ(slice(m1, 0x3FBC, 10), (Bytes{0xFF, static_cast<std::uint8_t>(crcs[0]), 0xFF,
                                            static_cast<std::uint8_t>(crcs[1]), 0xFF,
                                            static_cast<std::uint8_t>(crcs[2]), 0xFF,
                                            static_cast<std::uint8_t>(crcs[3]), 0x00, 0xFA}));
    EXPECT_EQ(slice(m2, 0x3FBC, 10), (Bytes{static_cast<std::uint8_t>(crcs[0]), static_cast<std::uint8_t>(crcs[1]),
                                            static_cast<std::uint8_t>(crcs[2]), static_cast<std::uint8_t>(crcs[3]),
                                            0xF0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));

    // M1 carries banks 0 and 2, M2 banks 1 and 2, writer bank 2 bank 3.
    EXPECT_EQ(window.withCode(MVX_MSG_CRC_IMAGE), (std::vector<Message>{{3, 0, crcs[0]},
                                                                        {3, 2, crcs[2]},
                                                                        {3, 1, crcs[1]},
                                                                        {3, 2, crcs[2]},
                                                                        {3, 3, crcs[3]}}));
    for (int slot : {22, 23, 24, 25, 26, 27})
        EXPECT_NE(std::find(window.messages.begin(), window.messages.end(), Message{2, slot, 100}),
                  window.messages.end())
            << slot;
    const std::vector<Message> tail(window.messages.end() - 3, window.messages.end());
    EXPECT_EQ(tail, (std::vector<Message>{{8, 22, 1}, {12, 0, 0}, {9, 0, 0}}));
}

TEST(OneToFourRun, Operation5OverTheNorvaneCableWithoutBank3)
{
    WriterBoardFolder board;
    FlashJob job;
    job.files.table[3].inUse = 0;
    job.files.table[2].inUse = 0;
    RecordingWindow window;
    ASSERT_EQ(runIsp(job.run(window, 0)), MVX_OK);

    const Bytes m1 = board.m1();
    const Bytes m2 = board.m2();
    EXPECT_TRUE(allErased(m1, 2 * kBank, kWriterFlash));
    EXPECT_TRUE(allErased(m1, 0xC000, kBank));
    EXPECT_EQ(slice(m2, 0x4000, 0x5000), job.bank1);
    EXPECT_EQ(slice(m1, 0x3FB0, 4), (Bytes{0, 0, 0, 0}));
    EXPECT_EQ(slice(m1, 0x3FC0, 6), (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x3A}));
    EXPECT_EQ(m2[0x3FC0], 0x30);
    for (int slot : {24, 27})
        EXPECT_EQ(std::count_if(window.messages.begin(), window.messages.end(),
                                [slot](const Message& m) { return m.code == 2 && m.sub == slot; }),
                  0);
}

// ---- a checksum mismatch wipes both writers ----

class OneToFourMismatch : public testing::TestWithParam<int> {};

TEST_P(OneToFourMismatch, BothWritersAreErasedAndTheRunFailsWith21)
{
    const int operation = GetParam();
    WriterBoardFolder board("[faults]\ncrc_mismatch_once=1\n");
    JobFiles files;
    const int first = operation == MVX_OP_5310_1TO4 ? 16 : operation == MVX_OP_5312_1TO4 ? 9 : 22;
    for (int slot : {first, first + 1, first + (operation == MVX_OP_SERIAL_FLASH_1TO4 ? 3 : 2),
                     first + (operation == MVX_OP_SERIAL_FLASH_1TO4 ? 4 : 3)})
        files.ld(slot, writerFirmware(static_cast<unsigned>(slot)));
    files.bank(0, firmwarePattern(kBank, 1));
    RecordingWindow window;
    IspOptions options{};

    EXPECT_EQ(runIsp(oneToFourRun(operation, files, window, options, MVX_ADAPTER_NORVANE_IIC, 1)),
              MVX_ERR_CHECKSUM_MISMATCH);

    EXPECT_TRUE(allErased(board.m1(), 0, kWriterFlash));
    EXPECT_TRUE(allErased(board.m2(), 0, kWriterFlash));
    const std::vector<Message> tail(window.messages.end() - 2, window.messages.end());
    EXPECT_EQ(tail, (std::vector<Message>{{8, first, 0}, {11, 0, MVX_ERR_CHECKSUM_MISMATCH}}));
    EXPECT_TRUE(window.withCode(MVX_MSG_RUN_PASSED).empty());
    EXPECT_EQ(window.boxes, (std::vector<std::string>{"ISP process has failed!"}));
}

INSTANTIATE_TEST_SUITE_P(Operations, OneToFourMismatch,
                         testing::Values(MVX_OP_5310_1TO4, MVX_OP_5312_1TO4, MVX_OP_SERIAL_FLASH_1TO4));

// ---- refusals before the writers are touched ----

namespace {

// Small files: these runs end before anything is programmed.
void fillMinimal5310Job(JobFiles& files)
{
    for (int slot = 16; slot <= 19; ++slot)
        files.ld(slot, writerFirmware(static_cast<unsigned>(slot), 0x100));
    files.bank(0, firmwarePattern(0x100, 1));
}

}  // namespace

TEST(OneToFourRun, UsbAndFtdiKindsCannotReachTheWriterBoard)
{
    WriterBoardFolder board;
    board.preset(0x00);
    JobFiles files;
    fillMinimal5310Job(files);
    IspOptions options{};
    for (const auto& [kind, library] : {std::pair{MVX_ADAPTER_NORVANE_USB, 1}, std::pair{MVX_ADAPTER_FTDI_USB, 0}}) {
        RecordingWindow window;
        EXPECT_EQ(runIsp(oneToFourRun(MVX_OP_5310_1TO4, files, window, options, kind, library)),
                  MVX_ERR_ADAPTER_KIND);
        EXPECT_EQ(window.messages, (std::vector<Message>{{1, 0, 3}, {11, 0, MVX_ERR_ADAPTER_KIND}}));
    }
    EXPECT_EQ(board.m1(), Bytes(kWriterFlash, 0x00));
    EXPECT_EQ(board.m2(), Bytes(kWriterFlash, 0x00));
}

TEST(OneToFourRun, FailedLineProbeIsResult13)
{
    WriterBoardFolder board("link=dead\n");
    JobFiles files;
    fillMinimal5310Job(files);
    RecordingWindow window;
    IspOptions options{};
    EXPECT_EQ(runIsp(oneToFourRun(MVX_OP_5310_1TO4, files, window, options, MVX_ADAPTER_NORVANE_IIC, 1)),
              MVX_ERR_ISP_MODE);
    EXPECT_EQ(window.messages, (std::vector<Message>{{1, 0, 3}, {11, 0, MVX_ERR_ISP_MODE}}));
}

TEST(OneToFourRun, WriterThatNeverFinishesItsEraseIsResult18)
{
    WriterBoardFolder board("[faults]\nstuck_busy=1\n");
    JobFiles files;
    fillMinimal5310Job(files);
    RecordingWindow window;
    IspOptions options{};
    EXPECT_EQ(runIsp(oneToFourRun(MVX_OP_5310_1TO4, files, window, options, MVX_ADAPTER_NORVANE_IIC, 1)),
              MVX_ERR_TIMEOUT);
    EXPECT_EQ(window.withCode(MVX_MSG_ERASE_RESULT), (std::vector<Message>{{1, 0, 3}}));
    EXPECT_TRUE(window.withCode(MVX_MSG_PROGRAM_PERCENT).empty());
}

TEST(OneToFourRun, MissingLdFileOrTargetBank0StopsBeforeTheWriters)
{
    WriterBoardFolder board;
    board.preset(0x00);
    IspOptions options{};
    {
        JobFiles files;
        fillMinimal5310Job(files);
        files.table[18].inUse = 0;
        RecordingWindow window;
        EXPECT_EQ(runIsp(oneToFourRun(MVX_OP_5310_1TO4, files, window, options)), MVX_ERR_NO_FILE_TABLE);
        EXPECT_EQ(window.withCode(MVX_MSG_FILE_LOAD_FAILED), (std::vector<Message>{{10, 18, 0}}));
    }
    {
        JobFiles files;
        fillMinimal5310Job(files);
        files.table[0].inUse = 0;
        RecordingWindow window;
        EXPECT_EQ(runIsp(oneToFourRun(MVX_OP_5310_1TO4, files, window, options)), MVX_ERR_NO_FILE_TABLE);
        EXPECT_EQ(window.withCode(MVX_MSG_FILE_LOAD_FAILED), (std::vector<Message>{{10, 0, 0}}));
    }
    {
        JobFiles files;
        fillMinimal5310Job(files);
        std::strcpy(files.table[17].path, files.folder.file("missing.hex").c_str());
        RecordingWindow window;
        EXPECT_EQ(runIsp(oneToFourRun(MVX_OP_5310_1TO4, files, window, options)), MVX_ERR_FILE);
        EXPECT_EQ(window.withCode(MVX_MSG_FILE_LOAD_FAILED), (std::vector<Message>{{10, 17, 0}}));
    }
    {
        JobFiles files;
        RecordingWindow window;
        IspArguments a = oneToFourRun(MVX_OP_5310_1TO4, files, window, options);
        a.fileTable = nullptr;
        EXPECT_EQ(runIsp(a), MVX_ERR_NO_FILE_TABLE);
    }
    EXPECT_EQ(board.m1(), Bytes(kWriterFlash, 0x00));
    EXPECT_EQ(board.m2(), Bytes(kWriterFlash, 0x00));
}

TEST(OneToFourRun, FlashBankTooLargeForAWriterIsRefused)
{
    WriterBoardFolder board;
    board.preset(0x00);
    FlashJob job;
    Bytes tooLong = firmwarePattern(0x8001, 8);
    tooLong.back() = 0x00;   // one byte past the 32 KB a writer keeps for bank 2
    job.files.bank(2, tooLong);
    RecordingWindow window;
    EXPECT_EQ(runIsp(job.run(window, 1)), MVX_ERR_ERASE_LENGTH);
    EXPECT_EQ(window.withCode(MVX_MSG_FILE_LOAD_FAILED), (std::vector<Message>{{10, 2, 0}}));
    EXPECT_EQ(board.m1(), Bytes(kWriterFlash, 0x00));
}

TEST(OneToFourRun, FlashBrandOutsideTheListIsRefused)
{
    WriterBoardFolder board;
    FlashJob job;
    RecordingWindow window;
    IspArguments a = job.run(window, 1);
    a.flashBrand = 6;
    EXPECT_EQ(runIsp(a), MVX_ERR_FLASH_BRAND);
    EXPECT_EQ(window.messages, (std::vector<Message>{{11, 0, MVX_ERR_FLASH_BRAND}}));
}
