#include "app/virtual_board_banner.hpp"

#include <QBoxLayout>
#include <QFont>
#include <QPalette>

namespace mvx::tool {

VirtualBoardBanner::VirtualBoardBanner(const VirtualBoardNotice& notice, QWidget* parent)
    : QLabel(QString::fromStdString(notice.text()), parent)
{
    setObjectName("virtualBoardBanner");
    setAccessibleName(text());
    setAlignment(Qt::AlignCenter);
    setWordWrap(true);
    setMargin(6);
    QFont bold = font();
    bold.setBold(true);
    setFont(bold);
    QPalette colours = palette();
    colours.setColor(QPalette::Window, QColor(0xB0, 0x00, 0x20));
    colours.setColor(QPalette::WindowText, Qt::white);
    setPalette(colours);
    setAutoFillBackground(true);
}

VirtualBoardBanner* VirtualBoardBanner::addTo(QBoxLayout& layout, const std::optional<VirtualBoardNotice>& notice,
                                              QWidget* parent)
{
    if (!notice)
        return nullptr;
    auto* banner = new VirtualBoardBanner(*notice, parent);
    layout.insertWidget(0, banner);
    return banner;
}

}  // namespace mvx::tool
