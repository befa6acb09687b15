// The banner a page shows at its top while a virtual board stands in for the
// hardware: the notice's text, bold, white on red, across the page.
#pragma once

#include <QLabel>
#include <optional>

#include "shell/virtual_board.hpp"

class QBoxLayout;

namespace mvx::tool {

class VirtualBoardBanner : public QLabel {
    Q_OBJECT
public:
    explicit VirtualBoardBanner(const VirtualBoardNotice& notice, QWidget* parent = nullptr);

    // Adds the banner for notice at the top of layout; nothing without one.
    static VirtualBoardBanner* addTo(QBoxLayout& layout, const std::optional<VirtualBoardNotice>& notice,
                                     QWidget* parent);
};

}  // namespace mvx::tool
