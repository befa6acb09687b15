#include "file_reader.hpp"

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <span>

#include "crc.hpp"
#include "mvx/platform/debug_output.hpp"
#include "mvx/platform/regular_file.hpp"
#include "mvxisp_file_limits.hpp"

namespace mvx::engine {

namespace {

constexpr int kBankSize = 65536;
constexpr int kLastBankSize = 0x8000;  // the MCUs' last bank is a 32 KB bank
constexpr int kSectorSize = 4096;
constexpr int kFlashOneToFourBase = 28;  // serial-flash 1To4 target banks 28..31 = banks 0..3
// The serial flash's bank 8 holds the LD file; a whole-device image never fills it.
constexpr std::uint8_t kFlashLdBank = 8;

// Intel-HEX record types.
constexpr std::uint8_t kHexData = 0x00;
constexpr std::uint8_t kHexEndOfFile = 0x01;
constexpr std::uint8_t kHexExtendedSegment = 0x02;
constexpr std::uint8_t kHexStartSegment = 0x03;
constexpr std::uint8_t kHexExtendedLinear = 0x04;
constexpr std::uint8_t kHexStartLinear = 0x05;

int hexDigit(int c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// The characters of a HEX file held in memory.
class HexStream {
public:
    explicit HexStream(std::span<const std::uint8_t> text) : text_(text) {}

    // The next character, or -1 at the end of the text.
    int next() { return pos_ < text_.size() ? text_[pos_++] : -1; }

    // Two hex digits as one byte; false when either is not a hex digit.
    bool readByte(std::uint8_t& value)
    {
        const int high = hexDigit(next());
        if (high < 0)
            return false;
        const int low = hexDigit(next());
        if (low < 0)
            return false;
        value = static_cast<std::uint8_t>((high << 4) | low);
        return true;
    }

private:
    std::span<const std::uint8_t> text_;
    std::size_t pos_ = 0;
};

// Intel-HEX: records ":" count, address (2 bytes), type, data, checksum, with
// anything between records skipped.  The data length is the end of the
// highest record.  Only data records carry bank data; the address records
// (types 2 and 4) and start-address records (3 and 5) are checked and
// passed over, since a bank file places its bytes by their 16-bit offsets.
int parseHex(std::span<const std::uint8_t> file, std::vector<std::uint8_t>& buffer, int& dataLength)
{
    HexStream in(file);
    std::array<std::uint8_t, 255> data{};

    for (;;) {
        int c = in.next();
        while (c >= 0 && c != ':')
            c = in.next();
        if (c < 0)
            return MVX_OK;

        std::uint8_t count = 0;
        std::uint8_t high = 0;
        std::uint8_t low = 0;
        std::uint8_t type = 0;
        if (!in.readByte(count) || !in.readByte(high) || !in.readByte(low) || !in.readByte(type))
            return MVX_ERR_HEX_RECORD;
        if (type == kHexEndOfFile)
            return MVX_OK;

        unsigned sum = unsigned{count} + high + low + type;
        for (std::size_t i = 0; i < count; ++i) {
            if (!in.readByte(data[i]))
                return MVX_ERR_HEX_RECORD;
            sum += data[i];
        }
        std::uint8_t checksum = 0;
        if (!in.readByte(checksum))
            return MVX_ERR_HEX_RECORD;
        if (((sum + checksum) & 0xFFu) != 0)
            return MVX_ERR_HEX_RECORD;

        switch (type) {
        case kHexData: {
            const int address = (high << 8) | low;
            // A record running past the bank's last byte would lose its tail.
            if (address + count > kBankSize)
                return MVX_ERR_HEX_RECORD;
            std::copy_n(data.begin(), count, buffer.begin() + address);
            dataLength = std::max(dataLength, address + count);
            break;
        }
        case kHexExtendedSegment:
        case kHexStartSegment:
        case kHexExtendedLinear:
        case kHexStartLinear:
            break;
        default:
            return MVX_ERR_HEX_RECORD;
        }
    }
}

// Raw binary: the file's bytes from offset 0.  A file longer than the load
// buffer is refused (its tail would be lost), reporting its real length.
int readRawBinary(std::span<const std::uint8_t> file, std::vector<std::uint8_t>& buffer, int& dataLength)
{
    if (file.size() > buffer.size()) {
        dataLength = static_cast<int>(std::min<std::size_t>(file.size(), INT_MAX));
        return MVX_ERR_FILE;
    }
    std::copy(file.begin(), file.end(), buffer.begin());
    dataLength = static_cast<int>(file.size());
    return file.empty() ? MVX_ERR_FILE : MVX_OK;
}

bool allBlank(const std::vector<std::uint8_t>& buffer, std::size_t from, std::size_t to)
{
    to = std::min(to, buffer.size());
    return from >= to || std::all_of(buffer.begin() + static_cast<std::ptrdiff_t>(from),
                                     buffer.begin() + static_cast<std::ptrdiff_t>(to),
                                     [](std::uint8_t b) { return b == 0xFF; });
}

// Whole-device binary: only the bank's window of the file is read.
int readWholeDevice(std::span<const std::uint8_t> file, std::uint8_t bankCode, const LoadRules& rules,
                    std::vector<std::uint8_t>& buffer, int& dataLength)
{
    if (file.empty())
        return MVX_ERR_FILE;
    const DeviceWindow window = wholeDeviceWindow(rules.operation, bankCode, file.size());
    if (window.count > 0 && window.offset < file.size()) {
        const auto count = std::min<std::uint64_t>(static_cast<std::uint64_t>(window.count), file.size() - window.offset);
        const auto from = file.subspan(static_cast<std::size_t>(window.offset), static_cast<std::size_t>(count));
        std::copy(from.begin(), from.end(), buffer.begin());
    }
    dataLength = window.dataLength;

    // The sector-erase bank is programmed only up to its last used byte.
    if (window.flashBank >= 0 && rules.sectorEraseFlag == 1 && window.flashBank == rules.sectorEraseBank) {
        const auto last = std::find_if(buffer.rbegin(), buffer.rend(), [](std::uint8_t b) { return b != 0xFF; });
        dataLength = static_cast<int>(buffer.rend() - last);
    }
    return MVX_OK;
}

int parseFile(std::span<const std::uint8_t> file, int format, std::uint8_t bankCode, const LoadRules& rules,
              LoadedBank& bank)
{
    switch (format) {
    case MVX_FORMAT_HEX:
        return parseHex(file, bank.buffer, bank.dataLength);
    case MVX_FORMAT_BINARY:
        return readRawBinary(file, bank.buffer, bank.dataLength);
    default:
        bank.wholeDeviceLength = file.size();
        return readWholeDevice(file, bankCode, rules, bank.buffer, bank.dataLength);
    }
}

bool sectorEraseApplies(const LoadRules& rules, std::uint8_t bankCode)
{
    if (rules.sectorEraseFlag != 1)
        return false;
    if (rules.operation == MVX_OP_SERIAL_FLASH)
        return bankCode == rules.sectorEraseBank;
    if (rules.operation == MVX_OP_SERIAL_FLASH_1TO4)
        return bankCode == rules.sectorEraseBank || bankCode == rules.sectorEraseBank + kFlashOneToFourBase;
    return false;
}

int setLengths(LoadedBank& bank, int programLength, int summedLength)
{
    bank.programLength = programLength;
    bank.summedLength = summedLength;
    return MVX_OK;
}

// The MCUs' last bank is programmed for at most 32 KB.
int applyLastBankRule(const LoadRules& rules, LoadedBank& bank)
{
    const int length = bank.dataLength;
    if (rules.eraseMode == 0) {
        // Data past the bank's 32 KB could not be programmed.
        if (!allBlank(bank.buffer, kLastBankSize, static_cast<std::size_t>(std::max(length, 0))))
            return MVX_ERR_ERASE_LENGTH;
        return setLengths(bank, kLastBankSize, kLastBankSize);
    }
    const int eraseLength = rules.eraseLength;
    if (eraseLength < 0) {
        // No length given: the file's own length, which must fit the bank.
        if (length > kLastBankSize)
            return MVX_ERR_ERASE_LENGTH;
        bank.eraseLength = length;
        return setLengths(bank, length, kLastBankSize);
    }
    if (eraseLength < length || eraseLength > kLastBankSize)
        return MVX_ERR_ERASE_LENGTH;
    return setLengths(bank, eraseLength, eraseLength);
}

int applyLengthRules(std::uint8_t code, const LoadRules& rules, int alignedLength, LoadedBank& bank)
{
    const int op = rules.operation;
    const int length = bank.dataLength;
    const auto in = [code](int first, int last) { return code >= first && code <= last; };

    if (op == MVX_OP_MCU_5310 && code == 0)
        return setLengths(bank, kBankSize, kBankSize);
    if (op == MVX_OP_SERIAL_FLASH)
        return setLengths(bank, alignedLength, kBankSize);
    if (op == MVX_OP_MCU_5312 && in(0, 1))
        return setLengths(bank, kBankSize, kBankSize);
    if (op == MVX_OP_5312_1TO4 && (in(0, 1) || in(13, 14)))
        return setLengths(bank, kBankSize, kBankSize);
    if (op == MVX_OP_5312_1TO4 && in(9, 12))
        return setLengths(bank, length, kBankSize);
    if (op == MVX_OP_5310_1TO4 && (code == 0 || code == 20))
        return setLengths(bank, kBankSize, kBankSize);
    if (op == MVX_OP_5310_1TO4 && in(16, 19))
        return setLengths(bank, length, kBankSize);
    if (op == MVX_OP_SERIAL_FLASH_1TO4 && (in(22, 23) || in(25, 26)))
        return setLengths(bank, length, length);
    if (op == MVX_OP_SERIAL_FLASH_1TO4 && (in(0, 3) || in(28, 31)))
        return setLengths(bank, alignedLength, kBankSize);
    if ((op == MVX_OP_MCU_5310 && code == 1) || (op == MVX_OP_MCU_5312 && code == 2) ||
        (op == MVX_OP_5310_1TO4 && (code == 1 || code == 21)) ||
        (op == MVX_OP_5312_1TO4 && (code == 2 || code == 15)))
        return applyLastBankRule(rules, bank);
    return MVX_ERR_BANK;
}

bool validOperation(const LoadRules& rules)
{
    return rules.operation >= MVX_OP_MCU_5310 && rules.operation <= MVX_OP_SERIAL_FLASH_1TO4;
}

bool validFormat(int format)
{
    return format >= MVX_FORMAT_HEX && format <= MVX_FORMAT_WHOLE_DEVICE;
}

LoadedBank blankBank(const LoadRules& rules)
{
    LoadedBank bank;
    bank.buffer.assign(kLoadBufferSize, 0xFF);
    bank.eraseLength = rules.eraseLength;
    return bank;
}

// The steps after the parse.  A failed read is reported after the alignment
// and the marker test, which then see what was read so far.
LoadedBank finishLoad(LoadedBank bank, int readResult, std::uint8_t bankCode, const LoadRules& rules)
{
    const int alignedLength =
        sectorEraseApplies(rules, bankCode) ? sectorAlignedLength(bank.dataLength) : bank.dataLength;
    bank.eepromMarker = hasEepromMarker(bank.buffer);
    if (readResult != MVX_OK) {
        bank.result = readResult;
        return bank;
    }

    const int lengthResult = applyLengthRules(bankCode, rules, alignedLength, bank);
    if (lengthResult != MVX_OK) {
        bank.result = lengthResult;
        bank.programLength = 0;
        bank.summedLength = 0;
        return bank;
    }
    const auto summed = static_cast<std::size_t>(std::clamp(bank.summedLength, 0, kBankSize));
    bank.checksum = bankChecksum(rules.operation, std::span<const std::uint8_t>(bank.buffer).first(summed));
    return bank;
}

}  // namespace

DeviceWindow wholeDeviceWindow(int operation, std::uint8_t bankCode, std::uint64_t fileLength)
{
    DeviceWindow window;
    switch (operation) {
    case MVX_OP_MCU_5312:
    case MVX_OP_5312_1TO4:
        if (bankCode == 0 || bankCode == 13) {
            window.offset = 0;
            window.count = kBankSize;
        } else if (bankCode == 1 || bankCode == 14) {
            window.offset = 0x10000;
            window.count = kBankSize;
        } else {
            window.offset = 0x20000;
            const std::uint64_t rest = fileLength > 0x20000 ? fileLength - 0x20000 : 0;
            window.count = static_cast<int>(std::min<std::uint64_t>(rest, kLastBankSize));
        }
        window.dataLength = window.count;
        break;
    case MVX_OP_SERIAL_FLASH:
    case MVX_OP_SERIAL_FLASH_1TO4: {
        int bank = bankCode;
        if (bankCode >= kFlashOneToFourBase && bankCode <= kFlashOneToFourBase + 3)
            bank = bankCode - kFlashOneToFourBase;
        else if (bankCode >= 9 && bankCode < kFlashOneToFourBase)
            bank = 0;
        window.offset = static_cast<std::uint64_t>(bank) << 16;
        window.count = kBankSize;
        window.dataLength = kBankSize;
        window.flashBank = bank;
        break;
    }
    case MVX_OP_MCU_5310:
    case MVX_OP_5310_1TO4:
        if (bankCode == 0 || bankCode == 20) {
            window.offset = 0;
            window.count = kBankSize;
        } else {
            window.offset = 0x10000;
            const bool fits = fileLength >= 0x10000 && fileLength - 0x10000 <= kLastBankSize;
            window.count = fits ? static_cast<int>(fileLength - 0x10000) : kLastBankSize;
        }
        window.dataLength = window.count;
        break;
    default:
        break;
    }
    return window;
}

int sectorAlignedLength(int dataLength)
{
    if (dataLength < kSectorSize)
        return dataLength;
    if (dataLength >= kBankSize - kSectorSize)
        return kBankSize;
    return (dataLength / kSectorSize + 1) * kSectorSize;
}

bool hasEepromMarker(const std::vector<std::uint8_t>& buffer)
{
    static constexpr std::array<std::uint8_t, 4> kMarker = {0xAA, 0x55, 0x55, 0xAA};
    if (buffer.size() < 3)
        return false;
    const std::size_t offset = (std::size_t{buffer[1]} << 8) | buffer[2];
    if (offset + kMarker.size() > buffer.size())
        return false;
    return std::equal(kMarker.begin(), kMarker.end(), buffer.begin() + static_cast<std::ptrdiff_t>(offset));
}

std::uint64_t fileLimitOf(int format)
{
    switch (format) {
    case MVX_FORMAT_HEX: return kMaxHexFileBytes;
    case MVX_FORMAT_BINARY: return kMaxBinaryFileBytes;
    default: return kMaxImageFileBytes;
    }
}

LoadedBank loadBank(const FileTableEntry* entry, std::uint8_t bankCode, const LoadRules& rules)
{
    if (entry == nullptr) {
        LoadedBank bank = blankBank(rules);
        bank.result = MVX_ERR_NO_FILE_TABLE;
        return bank;
    }
    if (!validOperation(rules) || !validFormat(entry->format))
        return loadBankFromBytes({}, entry->format, bankCode, rules);
    // The path must end within its field.
    if (std::memchr(entry->path, '\0', sizeof entry->path) == nullptr)
        return finishLoad(blankBank(rules), MVX_ERR_FILE, bankCode, rules);

    // The file is read whole (never blocking on a pipe or device, bounded by
    // its format's limit), then parsed from memory.
    const platform::FileBytes file = platform::readRegularFile(entry->path, fileLimitOf(entry->format));
    if (!file.ok()) {
        platform::debugOutput("firmware file '" + std::string(entry->path) + "' " + file.problem.message());
        LoadedBank bank = blankBank(rules);
        // A raw binary too large for the load buffer reports its real length.
        if (file.problem.fault == platform::FileFault::TooLarge && entry->format == MVX_FORMAT_BINARY)
            bank.dataLength = static_cast<int>(std::min<std::uint64_t>(file.problem.size, INT_MAX));
        return finishLoad(std::move(bank), MVX_ERR_FILE, bankCode, rules);
    }
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(file.bytes.data());
    return loadBankFromBytes(std::span<const std::uint8_t>(bytes, file.bytes.size()), entry->format, bankCode, rules);
}

LoadedBank loadBankFromBytes(std::span<const std::uint8_t> file, int format, std::uint8_t bankCode,
                             const LoadRules& rules)
{
    LoadedBank bank = blankBank(rules);
    if (!validOperation(rules)) {
        bank.result = MVX_ERR_OPERATION;
        return bank;
    }
    if (!validFormat(format))
        return finishLoad(std::move(bank), MVX_ERR_FILE_FORMAT, bankCode, rules);
    int readResult = parseFile(file, format, bankCode, rules, bank);
    if (readResult == MVX_OK && format == MVX_FORMAT_WHOLE_DEVICE && rules.operation == MVX_OP_SERIAL_FLASH &&
        bankCode == kFlashLdBank)
        readResult = MVX_ERR_BANK;
    return finishLoad(std::move(bank), readResult, bankCode, rules);
}

BankStore bankStoreFor(std::uint8_t bankCode)
{
    if (bankCode <= 8)
        return BankStore::BankImage;
    if (bankCode <= 31)
        return BankStore::OneToFourImages;
    return BankStore::None;
}

bool storeInBankImage(BankImage& image, const LoadedBank& bank, std::uint8_t bankCode, int operation,
                      std::uint8_t primarySlave)
{
    if (bank.result != MVX_OK || bankStoreFor(bankCode) != BankStore::BankImage)
        return false;
    const std::uint8_t registerByte =
        operation == MVX_OP_SERIAL_FLASH ? BankImage::kSerialFlashDataRegister : primarySlave;
    const auto count = std::min(static_cast<std::size_t>(std::max(bank.programLength, 0)), bank.buffer.size());
    image.store(std::span<const std::uint8_t>(bank.buffer).first(count), primarySlave, registerByte);
    return true;
}

}  // namespace mvx::engine
