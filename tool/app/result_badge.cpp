#include "app/result_badge.hpp"

#include <QFontMetricsF>
#include <algorithm>
#include <QPainter>
#include <QPainterPath>

namespace mvx::tool {

ResultBadge::ResultBadge(Kind kind, QWidget* parent)
    : QWidget(parent),
      kind_(kind),
      text_(kind == Kind::Pass ? QStringLiteral("PASS") : QStringLiteral("FAIL")),
      colour_(kind == Kind::Pass ? QColor(0x1b, 0x8a, 0x2f) : QColor(0xd0, 0x1c, 0x1c))
{
    setAccessibleName(text_);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

QSize ResultBadge::sizeHint() const
{
    // About four lines of text high: legible from a metre away at 100 %.
    const int line = fontMetrics().height();
    return {line * 10, line * 4};
}

QSize ResultBadge::minimumSizeHint() const
{
    const int line = fontMetrics().height();
    return {line * 6, line * 3};
}

void ResultBadge::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF plate = QRectF(rect()).adjusted(2, 2, -2, -2);
    const qreal radius = plate.height() * 0.12;
    QPainterPath path;
    path.addRoundedRect(plate, radius, radius);
    painter.fillPath(path, colour_);

    // The largest bold font whose text fits the plate with a margin.
    QFont big = font();
    big.setBold(true);
    big.setPixelSize(100);
    const QFontMetricsF metrics(big);
    const qreal scale = std::min(plate.width() * 0.8 / metrics.horizontalAdvance(text_),
                                 plate.height() * 0.7 / metrics.height());
    big.setPixelSize(std::max(8, static_cast<int>(100 * scale)));
    painter.setFont(big);
    painter.setPen(Qt::white);
    painter.drawText(plate, Qt::AlignCenter, text_);
}

}  // namespace mvx::tool
