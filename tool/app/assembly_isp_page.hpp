// The Assembly ISP page: a modal dialog drawing an AssemblyPageModel.  It
// loads an exported ISP file, shows the job read-only, runs it once on an
// IspWorker (the engine's progress reaches the page through a RunBridge) and
// offers the 1 To 1 / 1 To 4 choice.  Esc never closes it, nothing closes it
// while a run goes on, and Ctrl+M closes it asking for the customer page.
#pragma once

#include <QDialog>
#include <memory>

#include "app/run_bridge.hpp"
#include "assembly_page/assembly_page.hpp"
#include "run/isp_worker.hpp"
#include "shell/engine_binding.hpp"
#include "shell/locations.hpp"

namespace mvx::tool {

// The key that, pressed with Control, switches to the customer page: the
// customer page's view key, so that one key goes back and forth.
inline constexpr int kAssemblySwitchKey = Qt::Key_M;

class AssemblyIspPage : public QDialog {
    Q_OBJECT
public:
    AssemblyIspPage(const ShellLocations& where, EngineBinding& engine, ShellUi& ui, QWidget* parent = nullptr);
    ~AssemblyIspPage() override;

    const assembly_page::AssemblyPageModel& model() const { return model_; }
    bool switchPage() const { return model_.switchPage(); }
    // As Ctrl+M: closes the page asking for the customer page (not while running).
    void requestSwitch();

    void done(int result) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void build();
    void redraw();
    void drawProgress();
    void startRun();
    void finishRun();
    void releaseEngine();

    const ShellLocations& where_;
    EngineBinding& engine_;
    ShellUi& ui_;
    EngineHandle engineHandle_;
    assembly_page::AssemblyPageModel model_;
    std::unique_ptr<RunBridge> bridge_;
    std::unique_ptr<run::IspWorker> worker_;
    bool closed_ = false;
};

}  // namespace mvx::tool
