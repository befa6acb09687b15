// The Customer ISP page: a modal dialog drawing a CustomerPageModel.  Every
// control carries the objectName the model's layout tables use, so the
// layout is applied by name; the page forwards each action to the model and
// redraws from it.
#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>
#include <map>
#include <memory>

#include "customer_page/page_model.hpp"
#include "run/isp_worker.hpp"
#include "shell/engine_binding.hpp"
#include "shell/locations.hpp"

class QPlainTextEdit;

namespace mvx::tool {
class RunBridge;
}
class QProgressBar;

namespace mvx::tool {

// Names of the page's areas the layout tables do not name.
inline constexpr const char* kCustomerPageName = "customerPage";
inline constexpr const char* kFileRowsAreaName = "fileRowsArea";
inline constexpr const char* kOptionsAreaName = "optionsArea";
inline constexpr const char* kActionAreaName = "actionArea";
inline constexpr const char* kLogEditName = "logEdit";
inline constexpr const char* kFileDateTimeLabelName = "fileDateTimeLabel";
inline constexpr const char* kRunProgressBarName = "runProgressBar";

class CustomerIspPage : public QDialog {
    Q_OBJECT
public:
    // viewMode: 1 compact (operator) view, 2 full view.
    CustomerIspPage(const ShellLocations& where, EngineBinding& engine, ShellUi& ui, int viewMode,
                    QWidget* parent = nullptr);
    ~CustomerIspPage() override;

    const customer_page::CustomerPageModel& model() const { return model_; }
    // Closed asking for the other page (the view key in the full view, or requestSwitch()).
    bool switchPage() const { return switchRequested_ || model_.switchPage(); }
    void requestSwitch();

    // WM_SETTINGS_NOTIFY from a settings dialog: codes 0..4 in lParam, the data at wParam.
    void settingsNotify(std::uintptr_t wParam, std::intptr_t lParam);

    void done(int result) override;

    // Whether a run is in progress (its worker running or not yet tidied up).
    bool running() const { return model_.running(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void build();
    void redraw();
    void applyLayout(const customer_page::PageLayout& layout);
    void handle(const customer_page::PageUpdate& update);
    bool handleKey(QKeyEvent* key, bool pressed);
    // The Advanced Setting button: the dialog, live notifications, the checks after it.
    void advancedSetting();
    int rowAt(const QPoint& position) const;
    void releaseEngine();

    // Runs: the start, and the worker's reports on the window thread.
    void startRun();
    void workerStarted(const run::RunCounters& counters);
    void engineProgress(std::uintptr_t wParam, std::intptr_t lParam);
    void workerRunDone(const run::RunDone& done);
    void workerEnded(const run::WorkerEnd& end);
    void finishRun();
    void drawRun();
    void drawLog();

    const ShellLocations& where_;
    EngineBinding& engine_;
    EngineHandle engineHandle_;
    customer_page::EngineFileInfo fileInfo_;
    customer_page::CustomerPageModel model_;
    ShellUi& ui_;
    QPlainTextEdit* log_ = nullptr;
    QProgressBar* progress_ = nullptr;
    std::uint64_t shownLogGeneration_ = ~std::uint64_t{0};
    std::size_t shownLogLines_ = 0;
    std::string shownLastLine_;
    std::unique_ptr<RunBridge> bridge_;
    std::unique_ptr<run::IspWorker> worker_;
    bool runIsRepeat_ = false;
    bool switchRequested_ = false;
    bool closed_ = false;
};

}  // namespace mvx::tool
