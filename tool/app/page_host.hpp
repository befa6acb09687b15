// The pages of the start-up loop: the Assembly ISP page and the Customer ISP
// page.  The scripted actions of MVX_STANDIN_PAGES (see stand_in_pages.hpp)
// apply to both, one per page in the order they open; besides those
// actions, "ctrl-m" presses Ctrl+M on the page, as the operator does to
// switch pages (or, in the customer page's compact view, its view).
#pragma once

#include <QStringList>

#include "shell/engine_binding.hpp"
#include "shell/locations.hpp"
#include "shell/startup.hpp"

namespace mvx::tool {

class ToolPageHost final : public PageHost {
public:
    ToolPageHost(const ShellLocations& where, EngineBinding& engine, ShellUi& ui, QStringList actions);

    bool runAssemblyPage() override;
    bool runCustomerPage(int viewMode) override;

private:
    QString nextAction() { return actions_.isEmpty() ? QString() : actions_.takeFirst(); }

    const ShellLocations& where_;
    EngineBinding& engine_;
    ShellUi& ui_;
    QStringList actions_;
};

}  // namespace mvx::tool
