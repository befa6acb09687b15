#include "mvx/sim/board.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "mvx/platform/ini.hpp"
#include "mvx/sim/mcu.hpp"
#include "mvx/sim/spi_flash.hpp"
#include "mvx/sim/writer_board.hpp"
#include "temp_folder.hpp"

using mvx::sim::Board;
using mvx::test::readWholeFile;
using mvx::test::ScopedEnv;
using mvx::test::TempFolder;
using mvx::test::writeWholeFile;

namespace {

bool allErased(const std::string& bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) == 0xFF; });
}

}  // namespace

// ---- the folder and its state files ----

TEST(BoardFolder, ANewBoardStartsErasedWithItsStateFiles)
{
    TempFolder folder;
    const std::string path = folder.file("board");   // created on open
    std::string error;
    auto board = Board::open(path, &error);
    ASSERT_NE(board, nullptr) << error;
    ASSERT_NE(board->flash(), nullptr);
    ASSERT_NE(board->scaler(), nullptr);
    EXPECT_EQ(board->mcu(), nullptr);
    const std::string flash = readWholeFile(path + "/flash.bin");
    EXPECT_EQ(flash.size(), 512u * 1024u);   // the default part, W25X40A
    EXPECT_TRUE(allErased(flash));
}

TEST(BoardFolder, WhatOneCallLeavesTheNextCallSees)
{
    TempFolder folder;
    std::string error;
    {
        auto board = Board::open(folder.path(), &error);
        ASSERT_NE(board, nullptr) << error;
        board->flash()->array()[0x3F000] = 0x5A;
        board->clock().sleepMillis(10);
        ASSERT_TRUE(board->finishCall(&error)) << error;
    }
    auto again = Board::open(folder.path(), &error);
    ASSERT_NE(again, nullptr) << error;
    EXPECT_EQ(again->flash()->array()[0x3F000], 0x5A);
    EXPECT_EQ(again->flash()->array()[0x3F001], 0xFF);

    const auto run = mvx::platform::loadIni(folder.file("run.ini"));
    ASSERT_TRUE(run.has_value());
    EXPECT_EQ(run->value("run", "sleeps"), "1");
    EXPECT_EQ(run->value("run", "slept_us"), "10000");
    EXPECT_EQ(run->value("run", "target"), "serialflash");
}

TEST(BoardFolder, AStateFileOfTheWrongSizeIsRefusedAndKept)
{
    TempFolder folder;
    writeWholeFile(folder.file("flash.bin"), std::string(1000, '\x12'));
    std::string error;
    EXPECT_EQ(Board::open(folder.path(), &error), nullptr);
    EXPECT_NE(error.find("flash.bin holds 1000 bytes"), std::string::npos) << error;
    EXPECT_EQ(readWholeFile(folder.file("flash.bin")), std::string(1000, '\x12'));
}

TEST(BoardFolder, BadBoardIniIsReportedWithTheFolder)
{
    TempFolder folder;
    writeWholeFile(folder.file("board.ini"), "[board]\nflash=NoSuchPart\n");
    std::string error;
    EXPECT_EQ(Board::open(folder.path(), &error), nullptr);
    EXPECT_NE(error.find("NoSuchPart"), std::string::npos) << error;
    EXPECT_FALSE(std::filesystem::exists(folder.file("flash.bin")));

    writeWholeFile(folder.file("board.ini"), "[board]\ntarget=toaster\n");
    EXPECT_EQ(Board::open(folder.path(), &error), nullptr);
    EXPECT_NE(error.find("toaster"), std::string::npos) << error;
}

TEST(BoardFolder, TheEnvironmentNamesTheBoard)
{
    TempFolder folder;
    std::string error;
    {
        ScopedEnv unset("MVX_VIRTUAL_BOARD", nullptr);
        EXPECT_EQ(Board::openFromEnvironment(&error), nullptr);
        EXPECT_TRUE(error.empty());
    }
    ScopedEnv set("MVX_VIRTUAL_BOARD", folder.path().c_str());
    auto board = Board::openFromEnvironment(&error);
    ASSERT_NE(board, nullptr) << error;
    EXPECT_EQ(board->folder(), folder.path());
}

// ---- targets ----

TEST(BoardTargets, EachTargetPutsItsDevicesOnTheBusAndItsFilesInTheFolder)
{
    struct Row {
        const char* target;
        const char* files[2];
        std::uint8_t answering[2];
    };
    const Row rows[] = {
        {"5310", {"mcu.bin", nullptr}, {0x94, 0x94}},
        {"5312", {"mcu.bin", nullptr}, {0x94, 0x94}},
        {"1to4", {"writer_m1.bin", "writer_m2.bin"}, {0x94, 0x90}},
    };
    for (const Row& row : rows) {
        TempFolder folder;
        writeWholeFile(folder.file("board.ini"), std::string("[board]\ntarget=") + row.target + "\n");
        std::string error;
        auto board = Board::open(folder.path(), &error);
        ASSERT_NE(board, nullptr) << row.target << ": " << error;
        EXPECT_EQ(board->flash(), nullptr);
        for (const char* file : row.files) {
            if (file == nullptr)
                continue;
            const std::string bytes = readWholeFile(folder.file(file));
            EXPECT_FALSE(bytes.empty()) << file;
            EXPECT_TRUE(allErased(bytes)) << file;
        }
        for (std::uint8_t address : row.answering) {
            EXPECT_TRUE(board->bus().start(address)) << row.target << " at " << int(address);
            board->bus().stop();
        }
    }
}

TEST(BoardTargets, McuFilesHaveTheChipsSizes)
{
    for (auto [target, size] : {std::pair{"5310", 96u * 1024u}, std::pair{"5312", 160u * 1024u}}) {
        TempFolder folder;
        writeWholeFile(folder.file("board.ini"), std::string("[board]\ntarget=") + target + "\n");
        std::string error;
        ASSERT_NE(Board::open(folder.path(), &error), nullptr) << error;
        EXPECT_EQ(readWholeFile(folder.file("mcu.bin")).size(), size) << target;
    }
}

// ---- faults that live on the bus ----

TEST(BoardFaults, DeadLinkAndMovedScalerAddress)
{
    {
        TempFolder folder;
        writeWholeFile(folder.file("board.ini"), "[board]\nlink=dead\n");
        std::string error;
        auto board = Board::open(folder.path(), &error);
        ASSERT_NE(board, nullptr) << error;
        EXPECT_FALSE(board->bus().start(0x94));
        board->bus().stop();
    }
    {
        TempFolder folder;
        writeWholeFile(folder.file("board.ini"), "[board]\nscaler_address=0x98\n");
        std::string error;
        auto board = Board::open(folder.path(), &error);
        ASSERT_NE(board, nullptr) << error;
        EXPECT_FALSE(board->bus().start(0x94));
        board->bus().stop();
        EXPECT_TRUE(board->bus().start(0x98));
        board->bus().stop();
        EXPECT_TRUE(board->bus().start(0x9A));
        board->bus().stop();
    }
}
