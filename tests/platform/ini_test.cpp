#include "mvx/platform/ini.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace mvx::platform {
namespace {

namespace fs = std::filesystem;

// Each test gets its own folder, removed afterwards.
class IniFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::path(::testing::TempDir()) / "mvx_ini_XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        file_ = dir_ + "/settings.ini";
    }
    void TearDown() override { fs::remove_all(dir_); }

    void put(const std::string& text) { std::ofstream(file_, std::ios::binary) << text; }
    std::string get() const {
        std::ifstream in(file_, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    std::vector<std::string> folderEntries() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }

    std::string dir_;
    std::string file_;
};

// --- Reading: defaults and values ------------------------------------------

TEST_F(IniFileTest, MissingPiecesGiveTheDefault) {
    EXPECT_EQ(readProfileInt(file_, "Cam", "Gain", 7), 7);
    EXPECT_EQ(readProfileString(file_, "Cam", "Gain", "dflt"), "dflt");

    put("Orphan=1\n[Cam]\nGain=\nName=\n[Other]\nX=2\n");
    EXPECT_EQ(readProfileInt(file_, "Nope", "Gain", 7), 7);
    EXPECT_EQ(readProfileInt(file_, "Cam", "X", 7), 7);        // key of another section
    EXPECT_EQ(readProfileInt(file_, "Cam", "Gain", 7), 7);     // empty value
    EXPECT_EQ(readProfileString(file_, "Cam", "Name", "d"), "");  // present but empty
    EXPECT_EQ(readProfileInt(file_, "", "Orphan", 9), 9);      // before any section
}

TEST_F(IniFileTest, ValuesAreTrimmedUnquotedAndMatchedWithoutCase) {
    put("[Video Settings]\n  Gain\t=  12  \nA=\"quoted value\"\nB=' x '\nC=\"mixed'\nD=\"\n");
    EXPECT_EQ(readProfileString(file_, "video settings", "GAIN", ""), "12");
    EXPECT_EQ(readProfileString(file_, " VIDEO SETTINGS ", "a", ""), "quoted value");
    EXPECT_EQ(readProfileString(file_, "Video Settings", "B", ""), " x ");
    EXPECT_EQ(readProfileString(file_, "Video Settings", "C", ""), "\"mixed'");
    EXPECT_EQ(readProfileString(file_, "Video Settings", "D", ""), "\"");
}

TEST_F(IniFileTest, StringsAreCutAt259Characters) {
    const std::string longText(300, 'v');
    put("[S]\nK=" + longText + "\n");
    EXPECT_EQ(readProfileString(file_, "S", "K", ""), longText.substr(0, 259));
    EXPECT_EQ(readProfileString(file_, "S", "Missing", longText), longText.substr(0, 259));
}

TEST_F(IniFileTest, IntegersTakeSignAndLeadingDigitsAndSaturate) {
    const std::pair<const char*, int> cases[] = {
        {"12abc", 12},       {"abc", 0},          {"-5", -5},
        {"+8", 8},           {"-", 0},            {"0x1F", 0},
        {"\" 42\"", 42},     {"'-3'", -3},        {"2147483647", INT_MAX},
        {"-2147483648", INT_MIN},                 {"2147483648", INT_MAX},
        {"99999999999999999999999", INT_MAX},     {"-99999999999999999999", INT_MIN},
    };
    for (const auto& [text, expected] : cases) {
        put(std::string("[S]\nK=") + text + "\n");
        EXPECT_EQ(readProfileInt(file_, "S", "K", 77), expected) << text;
    }
}

TEST_F(IniFileTest, FirstOfRepeatedSectionsAndKeysWins) {
    put("[A]\nK=1\nK=2\n[a]\nK=3\nOnlyLater=4\n");
    EXPECT_EQ(readProfileInt(file_, "A", "K", 0), 1);
    EXPECT_EQ(readProfileInt(file_, "A", "OnlyLater", 0), 0);
    ASSERT_FALSE(writeProfileInt(file_, "a", "k", 5));
    EXPECT_EQ(get(), "[A]\nK=5\nK=2\n[a]\nK=3\nOnlyLater=4\n");
}

// --- Unusual files: never a crash ------------------------------------------

TEST_F(IniFileTest, FilesWithoutSectionsOrWithJunkReadAsDefaults) {
    put("just text\nKey=1\n");
    EXPECT_EQ(readProfileInt(file_, "Key", "Key", 3), 3);

    std::string junk;
    for (int i = 0; i < 4096; ++i) junk += static_cast<char>((i * 131 + 7) % 256);
    put(junk);
    EXPECT_EQ(readProfileString(file_, "S", "K", "d"), "d");
    ASSERT_FALSE(writeProfileString(file_, "Zz", "K", "v"));
    EXPECT_EQ(readProfileString(file_, "Zz", "K", ""), "v");
    EXPECT_EQ(get().substr(0, junk.size()), junk);  // the junk itself is kept
}

TEST_F(IniFileTest, MegabyteLinesAreReadSafely) {
    put("[S]\nText=" + std::string(1 << 20, 'x') + "\nNum=" + std::string(1 << 20, '9') + "\n[" +
        std::string(1 << 20, 'n'));
    EXPECT_EQ(readProfileString(file_, "S", "Text", ""), std::string(259, 'x'));
    EXPECT_EQ(readProfileInt(file_, "S", "Num", 0), INT_MAX);
}

TEST_F(IniFileTest, OversizedFileIsNotReadNorOverwritten) {
    put("[S]\nK=1\n");
    const auto size = std::uintmax_t{65} << 20;  // sparse: costs no disk space
    fs::resize_file(file_, size);
    EXPECT_EQ(readProfileInt(file_, "S", "K", 4), 4);
    const auto error = writeProfileInt(file_, "S", "K", 2);
    ASSERT_TRUE(error);
    EXPECT_NE(error->message.find("File too large"), std::string::npos);
    EXPECT_EQ(fs::file_size(file_), size);
    EXPECT_EQ(folderEntries(), std::vector<std::string>{"settings.ini"});
}

TEST_F(IniFileTest, DirectoryAsPathReadsDefaultAndRefusesWrite) {
    const std::string sub = dir_ + "/folder.ini";
    ASSERT_TRUE(fs::create_directory(sub));
    EXPECT_FALSE(loadIni(sub));
    EXPECT_EQ(readProfileInt(sub, "S", "K", 4), 4);

    const auto error = writeProfileInt(sub, "S", "K", 1);
    ASSERT_TRUE(error);
    EXPECT_NE(error->message.find(sub), std::string::npos);
    EXPECT_NE(error->message.find("Is a directory"), std::string::npos);
    EXPECT_TRUE(saveIni(sub, IniDocument::parse("[S]\n")));
    EXPECT_EQ(folderEntries(), std::vector<std::string>{"folder.ini"});
    EXPECT_TRUE(fs::is_empty(sub));
}

// --- Writing ----------------------------------------------------------------

TEST_F(IniFileTest, WriteCreatesFileSectionAndKey) {
    ASSERT_FALSE(writeProfileInt(file_, "Cam", "Exposure", -120));
    ASSERT_FALSE(writeProfileString(file_, "Cam", "Name", "front"));
    ASSERT_FALSE(writeProfileString(file_, "Out", "Dir", "/data"));
    EXPECT_EQ(get(), "[Cam]\nExposure=-120\nName=front\n\n[Out]\nDir=/data\n");
    EXPECT_EQ(folderEntries(), std::vector<std::string>{"settings.ini"});
}

TEST_F(IniFileTest, WriteChangesOnlyItsLine) {
    const std::string before =
        "; MVX settings\n"
        "top=1\n"
        "[Cam]\n"
        "  # indented comment\n"
        "GAIN = 3 ; old\n"
        "stray line\n"
        "Mode=auto\n"
        "\n"
        "[Out]\n"
        "Dir=/x\n";
    put(before);
    ASSERT_FALSE(writeProfileInt(file_, "cam", "gain", 10));
    std::string expected = before;
    expected.replace(expected.find("GAIN = 3 ; old"), 14, "GAIN=10");
    EXPECT_EQ(get(), expected);
}

TEST_F(IniFileTest, NewKeyGoesBeforeTheBlankLinesAheadOfTheNextSection) {
    put("[A]\nx=1\n; note\n\n\n[B]\ny=2\n[C]\n");
    ASSERT_FALSE(writeProfileString(file_, "a", "New", "v"));
    ASSERT_FALSE(writeProfileString(file_, "B", "z", "3"));
    ASSERT_FALSE(writeProfileString(file_, "C", "w", "4"));
    EXPECT_EQ(get(), "[A]\nx=1\n; note\nNew=v\n\n\n[B]\ny=2\nz=3\n[C]\nw=4\n");
}

TEST_F(IniFileTest, NewSectionSeparationAndMissingFinalNewline) {
    put("[A]\nx=1\n\n");  // already ends in a blank line: no second one
    ASSERT_FALSE(writeProfileString(file_, "B", "y", "2"));
    EXPECT_EQ(get(), "[A]\nx=1\n\n[B]\ny=2\n");

    put("[A]\nx=1");
    ASSERT_FALSE(writeProfileString(file_, "A", "x", "5"));
    EXPECT_EQ(get(), "[A]\nx=5");
    ASSERT_FALSE(writeProfileString(file_, "B", "y", "2"));
    EXPECT_EQ(get(), "[A]\nx=5\n\n[B]\ny=2");
}

TEST_F(IniFileTest, CrlfFilesStayCrlf) {
    put("[A]\r\nx=1\r\n\r\n[B]\r\ny=2\r\n");
    EXPECT_EQ(readProfileInt(file_, "A", "x", 0), 1);
    ASSERT_FALSE(writeProfileInt(file_, "A", "x", 9));
    ASSERT_FALSE(writeProfileInt(file_, "A", "n", 3));
    ASSERT_FALSE(writeProfileInt(file_, "C", "z", 4));
    EXPECT_EQ(get(), "[A]\r\nx=9\r\nn=3\r\n\r\n[B]\r\ny=2\r\n\r\n[C]\r\nz=4\r\n");
}

TEST_F(IniFileTest, PermissionBitsAndSymlinksSurviveAWrite) {
    put("[A]\nx=1\n");
    ASSERT_EQ(::chmod(file_.c_str(), 0640), 0);
    const std::string link = dir_ + "/link.ini";
    fs::create_symlink(file_, link);
    ASSERT_FALSE(writeProfileInt(link, "A", "x", 2));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(get(), "[A]\nx=2\n");
    struct stat st {};
    ASSERT_EQ(::stat(file_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_F(IniFileTest, RefusedWritesLeaveEverythingAsItWas) {
    const std::string before = "[A]\nx=1\n";
    put(before);
    const std::vector<std::pair<std::string, std::string>> bad = {
        {"x", "two\nlines"}, {"x", "cr\rhere"}, {" ", "v"}, {"k=v", "v"}, {";k", "v"}};
    for (const auto& [key, value] : bad) {
        const auto error = writeProfileString(file_, "A", key, value);
        ASSERT_TRUE(error) << key;
        EXPECT_NE(error->message.find(file_), std::string::npos);
    }
    EXPECT_TRUE(writeProfileString(file_, "A]", "x", "v"));
    EXPECT_TRUE(writeProfileString(file_, "B\n[A", "x", "v"));
    EXPECT_EQ(get(), before);
    EXPECT_EQ(folderEntries(), std::vector<std::string>{"settings.ini"});

    const auto missing = writeProfileInt(dir_ + "/no/such/folder.ini", "A", "x", 1);
    ASSERT_TRUE(missing);
    EXPECT_NE(missing->message.find("No such file or directory"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir_ + "/no"));
}

TEST_F(IniFileTest, LargeFileRoundTrip) {
    std::ostringstream text;
    for (int s = 0; s < 2000; ++s) {
        text << "[Section" << s << "]\n";
        for (int k = 0; k < 10; ++k) text << "Key" << k << "=" << s * 10 + k << "\n";
        text << "\n";
    }
    put(text.str());
    ASSERT_FALSE(writeProfileInt(file_, "Section1000", "Key5", -1));
    std::string expected = text.str();
    expected.replace(expected.find("Key5=10005\n"), 10, "Key5=-1");
    EXPECT_EQ(get(), expected);
    EXPECT_EQ(readProfileInt(file_, "section1999", "key9", 0), 19999);
    EXPECT_EQ(readProfileInt(file_, "Section1000", "Key5", 0), -1);
}

// --- IniDocument -------------------------------------------------------------

TEST(IniDocumentTest, ParseThenTextReproducesTheBytes) {
    const char binary[] = "[A]\n\0\x01=\x02\n";
    const std::vector<std::string> texts = {"",         "\n",  "[A]\nx=1", "a\r\nb\nc\r\n", "x\r\ny\r",
                                            "\xEF\xBB\xBF[A]\r\nk=v\r\n", std::string(binary, sizeof binary - 1)};
    for (const std::string& text : texts) {
        EXPECT_EQ(IniDocument::parse(text).text(), text);
    }
    EXPECT_EQ(IniDocument::parse("\xEF\xBB\xBF[A]\r\nk=v\r\n").value("a", "K"), "v");
}

TEST(IniDocumentTest, NamesAndRemoval) {
    IniDocument doc = IniDocument::parse("k0=0\n[A]\nx=1\nX=2\ny=3\n[B]\nz=4\n[a]\nw=5\n");
    EXPECT_EQ(doc.sectionNames(), (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(doc.keyNames("a"), (std::vector<std::string>{"x", "y"}));
    EXPECT_TRUE(doc.keyNames("none").empty());

    doc.removeKey("A", "X");
    doc.removeKey("A", "missing");
    doc.removeKey("missing", "x");
    EXPECT_EQ(doc.text(), "k0=0\n[A]\ny=3\n[B]\nz=4\n[a]\nw=5\n");
    doc.removeSection("A");
    EXPECT_FALSE(doc.hasSection("a"));
    EXPECT_EQ(doc.text(), "k0=0\n[B]\nz=4\n");

    doc.set("B", "bad", "line\nbreak");  // ignored: would not read back
    doc.set("B", "z", "'q'");
    EXPECT_EQ(doc.value("b", "Z"), "q");
    EXPECT_EQ(doc.text(), "k0=0\n[B]\nz='q'\n");
}

}  // namespace
}  // namespace mvx::platform
