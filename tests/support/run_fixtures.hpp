// What whole-run engine tests share: an owner window that records the
// engine's messages and boxes, a virtual board folder named by
// MVX_VIRTUAL_BOARD for the test, and firmware files with the table naming them.
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "mvxisp.h"
#include "scaler_driver.hpp"
#include "temp_folder.hpp"

namespace mvx::test {

struct ProgressMessage {
    int code;
    int sub;
    long value;
    bool operator==(const ProgressMessage&) const = default;
};

// An owner window that records what the engine sends and answers boxes with OK.
struct RecordingWindow {
    std::vector<ProgressMessage> messages;
    std::vector<std::string> boxes;      // the texts
    std::vector<std::string> captions;   // and their captions
    MvxWindow window{this, &RecordingWindow::send, &RecordingWindow::box};

    static intptr_t send(void* self, uint32_t message, uintptr_t wParam, intptr_t lParam)
    {
        if (message == WM_ISP_PROGRESS)
            static_cast<RecordingWindow*>(self)->messages.push_back(
                {MVX_PROGRESS_CODE(wParam), MVX_PROGRESS_SUB(wParam), static_cast<long>(lParam)});
        return 0;
    }
    static int box(void* self, const char* text, const char* caption, uint32_t)
    {
        static_cast<RecordingWindow*>(self)->boxes.emplace_back(text);
        static_cast<RecordingWindow*>(self)->captions.emplace_back(caption);
        return MVX_IDOK;
    }
    int count(int code) const
    {
        int n = 0;
        for (const ProgressMessage& m : messages)
            n += m.code == code ? 1 : 0;
        return n;
    }
};

// A board folder with its board.ini, named by MVX_VIRTUAL_BOARD while the
// object lives.
struct BoardFolder {
    explicit BoardFolder(const std::string& ini = "") { writeWholeFile(folder.file("board.ini"), ini); }
    std::string path(const std::string& name) const { return folder.file(name); }
    std::string contents(const std::string& name) const { return readWholeFile(folder.file(name)); }
    std::string flash() const { return contents("flash.bin"); }

    TempFolder folder;
    ScopedEnv env{"MVX_VIRTUAL_BOARD", folder.path().c_str()};
};

// Raw binary firmware files of the given sizes for banks 0, 1, ... and the
// file table naming them.
struct FirmwareFiles {
    explicit FirmwareFiles(std::initializer_list<std::size_t> sizes, unsigned seed = 31)
    {
        table.resize(MVX_FILE_TABLE_SIZE);
        std::size_t bank = 0;
        for (std::size_t size : sizes) {
            auto data = firmwarePattern(size, static_cast<unsigned>(seed + bank));
            const std::string path = folder.file("bank" + std::to_string(bank) + ".bin");
            writeWholeFile(path, std::string(data.begin(), data.end()));
            image.insert(image.end(), data.begin(), data.end());
            banks.push_back(std::move(data));
            table[bank].inUse = 1;
            table[bank].format = MVX_FORMAT_BINARY;
            std::strcpy(table[bank].path, path.c_str());
            ++bank;
        }
    }
    TempFolder folder;
    std::vector<FileTableEntry> table;
    std::vector<std::vector<std::uint8_t>> banks;
    std::vector<std::uint8_t> image;   // the banks one after the other
};

}  // namespace mvx::test
