#include "shell/engine_binding.hpp"

#include <gtest/gtest.h>

#include <filesystem>

#include "shell_test_support.hpp"

using namespace mvx::tool;
using mvx::platform::RegistryStore;
using mvx::test::ScratchInstall;
using mvx::test::ScriptedUi;
namespace fs = std::filesystem;

namespace {

constexpr int kEngineA = 101;
constexpr int kEngineB = 202;

void place(const char* library, const std::string& path)
{
    fs::create_directories(fs::path(path).parent_path());
    fs::copy_file(library, path, fs::copy_options::overwrite_existing);
}

// Which fake engine the entry points lead to (its mvxISP answer).
int engineBehind(const EngineEntryPoints& entry)
{
    if (!entry.bound())
        return 0;
    int dataLength = 0;
    EXPECT_EQ(entry.getFileInfo("x.hex", 0, 0, 0, 0, 0, &dataLength, nullptr, nullptr, nullptr, nullptr, 0, 0), 0);
    const int answer = entry.isp(0, 0, 0, 0, 0, 0, 0, 0, 0, nullptr, 0, 0, nullptr, nullptr, 0, 0, nullptr);
    EXPECT_EQ(dataLength, answer) << "both entry points come from one library";
    return answer;
}

class Binding : public ::testing::Test {
protected:
    const ShellLocations& where() const { return install.where; }
    std::string workCopy() const { return where().workFile("ISP__PSI.dll"); }
    std::string besideProgram() const { return install.root.file("bin/libMVXISP.so"); }

    ScratchInstall install;
    ScriptedUi ui;
    EngineBinding binding{install.where, ui};
};

}  // namespace

// ---- where the engine comes from -----------------------------------------------------

TEST_F(Binding, WorkFolderCopyComesFirst)
{
    place(MVX_FAKE_ENGINE_A, workCopy());
    place(MVX_FAKE_ENGINE_B, besideProgram());
    EngineHandle handle = binding.bindForPage();
    ASSERT_TRUE(handle);
    EXPECT_EQ(engineBehind(binding.entryPoints()), kEngineA);
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(Binding, EngineBesideTheProgramWhenTheWorkFolderHasNone)
{
    place(MVX_FAKE_ENGINE_B, besideProgram());
    EngineHandle handle = binding.bindForPage();
    ASSERT_TRUE(handle);
    EXPECT_EQ(engineBehind(binding.entryPoints()), kEngineB);
}

TEST_F(Binding, EngineInLibBesideTheProgramsBinFolder)
{
    place(MVX_FAKE_ENGINE_A, install.root.file("lib/libMVXISP.so"));
    EngineHandle handle = binding.bindForPage();
    ASSERT_TRUE(handle);
    EXPECT_EQ(engineBehind(binding.entryPoints()), kEngineA);
}

TEST_F(Binding, LibBesideTheBinFolderComesBeforeTheProgramsOwnFolder)
{
    // The same order as mvxisp's: the build's and the installation's lib/ first.
    place(MVX_FAKE_ENGINE_A, install.root.file("lib/libMVXISP.so"));
    place(MVX_FAKE_ENGINE_B, besideProgram());
    EngineHandle handle = binding.bindForPage();
    ASSERT_TRUE(handle);
    EXPECT_EQ(engineBehind(binding.entryPoints()), kEngineA);
}

TEST_F(Binding, WorkCopyLackingAnExportIsSkipped)
{
    place(MVX_FAKE_ENGINE_HALF, workCopy());
    place(MVX_FAKE_ENGINE_B, besideProgram());
    EngineHandle handle = binding.bindForPage();
    ASSERT_TRUE(handle);
    EXPECT_EQ(engineBehind(binding.entryPoints()), kEngineB);
}

TEST_F(Binding, NoEngineAnywhereSaysLoadDllFailed)
{
    fs::create_directories(where().workFolder);
    mvx::test::writeWholeFile(workCopy(), "not a library");
    EngineHandle handle = binding.bindForPage();
    EXPECT_FALSE(handle);
    EXPECT_FALSE(binding.entryPoints().bound());
    EXPECT_EQ(ui.messageTexts(), std::vector<std::string>{"Load dll failed!"});
}

// ---- both entry points or none ---------------------------------------------------------

TEST_F(Binding, LibraryWithoutBothExportsIsNoneAndClearsTheEntryPoints)
{
    place(MVX_FAKE_ENGINE_A, install.root.file("a.so"));
    place(MVX_FAKE_ENGINE_HALF, install.root.file("half.so"));
    EngineHandle first = binding.bindEngine(install.root.file("a.so"));
    ASSERT_TRUE(first);
    EXPECT_FALSE(binding.bindEngine(install.root.file("half.so")));
    EXPECT_EQ(binding.entryPoints().isp, nullptr);
    EXPECT_EQ(binding.entryPoints().getFileInfo, nullptr);
}

TEST_F(Binding, LibraryThatCannotLoadKeepsTheEntryPointsHeld)
{
    place(MVX_FAKE_ENGINE_A, install.root.file("a.so"));
    EngineHandle first = binding.bindEngine(install.root.file("a.so"));
    EXPECT_FALSE(binding.bindEngine(install.root.file("missing.so")));
    EXPECT_EQ(engineBehind(binding.entryPoints()), kEngineA);
}

TEST_F(Binding, ReleasingThePagesLibraryClearsItsEntryPoints)
{
    place(MVX_FAKE_ENGINE_A, install.root.file("a.so"));
    place(MVX_FAKE_ENGINE_B, install.root.file("b.so"));
    EngineHandle a = binding.bindEngine(install.root.file("a.so"));
    EngineHandle b = binding.bindEngine(install.root.file("b.so"));
    EXPECT_EQ(engineBehind(binding.entryPoints()), kEngineB) << "the last binding counts";
    binding.releaseForPage(a);
    EXPECT_FALSE(a);
    EXPECT_EQ(engineBehind(binding.entryPoints()), kEngineB) << "another library's release leaves them";
    binding.releaseForPage(b);
    EXPECT_FALSE(b);
    EXPECT_FALSE(binding.entryPoints().bound());
    binding.releaseForPage(b);   // a second release is harmless
}

// ---- libraryMode -----------------------------------------------------------------------------

class LibraryMode : public ::testing::Test {
protected:
    void setVersions(std::optional<std::uint32_t> debugTool, std::optional<std::uint32_t> customerTool)
    {
        if (debugTool) {
            ASSERT_FALSE(registry.writeDword(mvx::platform::kDebugToolKey, "MVXTool Version", *debugTool));
        }
        if (customerTool) {
            ASSERT_FALSE(registry.writeDword(mvx::platform::kCustomerToolKey, "MVXTool Version", *customerTool));
        }
    }
    mvx::test::TempFolder folder;
    RegistryStore registry{folder.file("Norvane/registry.ini")};
};

TEST_F(LibraryMode, NorvaneUsbFollowsTheMakerToolVersion)
{
    setVersions(99, std::nullopt);
    EXPECT_EQ(libraryModeFor(0, registry), 0);
    setVersions(100, std::nullopt);
    EXPECT_EQ(libraryModeFor(0, registry), 1);
}

TEST_F(LibraryMode, TheLargerOfTheTwoVersionsCounts)
{
    setVersions(99, 100);
    EXPECT_EQ(libraryModeFor(2, registry), 1);
    setVersions(100, 99);
    EXPECT_EQ(libraryModeFor(2, registry), 1);
    setVersions(5, 99);
    EXPECT_EQ(libraryModeFor(2, registry), 0);
}

TEST_F(LibraryMode, FtdiAlwaysUsesItsLibraryAndCvtIicNever)
{
    EXPECT_EQ(libraryModeFor(1, registry), 1);
    EXPECT_FALSE(registry.keyExists(mvx::platform::kDebugToolKey)) << "kinds 1 and 3 do not look";
    setVersions(100, 100);
    EXPECT_EQ(libraryModeFor(3, registry), 0);
    setVersions(0, 0);
    EXPECT_EQ(libraryModeFor(1, registry), 1);
}

TEST_F(LibraryMode, MissingKeysCountAsVersionZeroAndAreCreated)
{
    EXPECT_EQ(libraryModeFor(0, registry), 0);
    EXPECT_TRUE(registry.keyExists(mvx::platform::kDebugToolKey));
    EXPECT_TRUE(registry.keyExists(mvx::platform::kCustomerToolKey));
}

