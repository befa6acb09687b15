// Scripted stand-ins for the operator's screen, the clock, process starts
// and the pages, plus a scratch installation, for the shell's tests.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "mvx/platform/clock.hpp"
#include "shell/locations.hpp"
#include "shell/shell_ui.hpp"
#include "shell/startup.hpp"
#include "temp_folder.hpp"

namespace mvx::test {

class ScriptedUi final : public tool::ShellUi {
public:
    struct Shown {
        std::string text;
        std::string caption;
    };

    void showMessage(std::string_view text, std::string_view caption) override
    {
        messages.push_back({std::string(text), std::string(caption)});
    }
    tool::Answer ask(std::string_view text, std::string_view caption, tool::Buttons) override
    {
        questions.push_back({std::string(text), std::string(caption)});
        if (answers.empty()) {
            ADD_FAILURE() << "unexpected question: " << text;
            return tool::Answer::Cancel;
        }
        const tool::Answer answer = answers.front();
        answers.pop_front();
        return answer;
    }
    std::optional<std::string> chooseSaveFile(const tool::FileFilter& filter) override
    {
        saveFilters.push_back(filter);
        return next(saveChoices, "save");
    }
    std::optional<std::string> chooseOpenFile(const tool::FileFilter&) override
    {
        return next(openChoices, "open");
    }
    std::optional<std::string> chooseFolder(std::string_view title) override
    {
        folderTitles.emplace_back(title);
        return next(folderChoices, "folder");
    }

    std::vector<std::string> messageTexts() const
    {
        std::vector<std::string> texts;
        for (const Shown& shown : messages)
            texts.push_back(shown.text);
        return texts;
    }

    std::vector<Shown> messages;
    std::vector<Shown> questions;
    std::vector<tool::FileFilter> saveFilters;
    std::deque<tool::Answer> answers;
    std::deque<std::optional<std::string>> saveChoices;
    std::deque<std::optional<std::string>> openChoices;
    std::vector<std::string> folderTitles;
    std::deque<std::optional<std::string>> folderChoices;

private:
    static std::optional<std::string> next(std::deque<std::optional<std::string>>& choices,
                                           const char* kind)
    {
        if (choices.empty()) {
            ADD_FAILURE() << "unexpected " << kind << " picker";
            return std::nullopt;
        }
        auto choice = choices.front();
        choices.pop_front();
        return choice;
    }
};

// Records sleeps instead of sleeping; onSleep runs after each one.
class FakeClock final : public platform::Clock {
public:
    std::uint64_t nowMicros() override { return now; }
    void sleepMicros(std::uint64_t micros) override
    {
        now += micros;
        sleeps.push_back(micros);
        if (onSleep)
            onSleep();
    }
    std::uint64_t now = 0;
    std::vector<std::uint64_t> sleeps;
    std::function<void()> onSleep;
};

class RecordingStarter final : public tool::ProcessStarter {
public:
    struct Start {
        std::string program;
        std::string commandLine;
        bool hidden;
    };
    bool start(const std::string& program, const std::string& commandLine, bool hidden) override
    {
        starts.push_back({program, commandLine, hidden});
        return succeeds;
    }
    std::vector<Start> starts;
    bool succeeds = true;
};

// Pages that close at once, switching or not as scripted; each visit is
// recorded as "assembly" or "customer <viewMode>".
class ScriptedPages final : public tool::PageHost {
public:
    bool runAssemblyPage() override { return visit("assembly"); }
    bool runCustomerPage(int viewMode) override { return visit("customer " + std::to_string(viewMode)); }

    std::deque<bool> switches;            // one per page shown; missing = close
    std::vector<std::string> visits;
    std::function<void()> whileOpen;      // runs inside every page

private:
    bool visit(std::string page)
    {
        visits.push_back(std::move(page));
        if (whileOpen)
            whileOpen();
        if (switches.empty())
            return false;
        const bool result = switches.front();
        switches.pop_front();
        return result;
    }
};

// A scratch installation: a program file in <root>/bin, the program-files
// folder <root>/programs and a registry store <root>/registry.ini.
class ScratchInstall {
public:
    ScratchInstall()
        : where(tool::ShellLocations::forFolders(root.file("bin/MVX_ISP_Tool"), root.file("programs"),
                                                 root.file("registry.ini")))
    {
        std::filesystem::create_directories(root.file("bin"));
        std::filesystem::create_directories(root.file("programs"));
    }

    TempFolder root;
    tool::ShellLocations where;
};

inline std::string bytesOfLength(std::size_t length, unsigned seed)
{
    std::string bytes(length, '\0');
    std::uint32_t x = seed * 2654435761u + 1;
    for (char& c : bytes) {
        x = x * 1664525u + 1013904223u;
        c = static_cast<char>(x >> 24);
    }
    return bytes;
}

inline bool exists(const std::string& path)
{
    return std::filesystem::exists(path);
}

}  // namespace mvx::test
