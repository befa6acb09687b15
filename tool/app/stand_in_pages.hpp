// Stand-ins for the Assembly ISP page and the Customer ISP page until those
// pages are built: modal dialogs with the pages' titles, the engine bound
// while they are open, and a "switch page" button that closes the page asking
// for the other one.  The assembly stand-in writes back "last1to4" and
// "recfile" when it closes, as the real page does.
//
// Test hook, read only by the stand-in pages: the environment variable
// MVX_STANDIN_PAGES lists, comma-separated, what each page shown does by
// itself, one entry per page in the order they open:
//   switch   presses "switch page"
//   close    closes the page without switching
//   raised   minimises the page and closes it once a raise request (from a
//            second instance) restores it
// When the list is used up (or not set) a page waits for the operator.
// Ctrl+M switches the customer stand-in between its compact and full view,
// as the view key of the real page does.
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

#include "shell/engine_binding.hpp"
#include "shell/locations.hpp"
#include "shell/startup.hpp"

class QLabel;

namespace mvx::tool {

enum class PageKind { Assembly, Customer };

class StandInPage : public QDialog {
    Q_OBJECT
public:
    // viewMode only matters for the customer page (1 compact, 2 full).
    StandInPage(PageKind kind, const ShellLocations& where, EngineBinding& engine, int viewMode,
                QString action = {}, QWidget* parent = nullptr);
    ~StandInPage() override;

    bool switchPage() const { return switchPage_; }
    int viewMode() const { return viewMode_; }
    bool engineBound() const { return static_cast<bool>(engineHandle_); }

    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void requestSwitch();
    void releaseEngine();
    QString description() const;

    PageKind kind_;
    const ShellLocations& where_;
    EngineBinding& engine_;
    EngineHandle engineHandle_;
    int viewMode_;
    QString action_;
    QLabel* descriptionLabel_ = nullptr;
    bool switchPage_ = false;
    bool actionStarted_ = false;
    bool waitingForRaise_ = false;
    bool closed_ = false;
};

// The pages of the start-up loop, played by the stand-ins.
class StandInPageHost final : public PageHost {
public:
    StandInPageHost(const ShellLocations& where, EngineBinding& engine, QStringList actions);
    // The actions of MVX_STANDIN_PAGES.
    static QStringList actionsFromEnvironment();

    bool runAssemblyPage() override;
    bool runCustomerPage(int viewMode) override;

private:
    bool run(PageKind kind, int viewMode);

    const ShellLocations& where_;
    EngineBinding& engine_;
    QStringList actions_;
};

}  // namespace mvx::tool
