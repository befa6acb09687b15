// The pass and fail pictures of a page: a large coloured plate with "PASS"
// (green) or "FAIL" (red) in white, drawn to fill whatever room the layout
// gives it, so an operator reads it from across the line at any scaling.
#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

namespace mvx::tool {

class ResultBadge : public QWidget {
    Q_OBJECT
public:
    enum class Kind { Pass, Fail };
    ResultBadge(Kind kind, QWidget* parent = nullptr);

    Kind kind() const { return kind_; }
    QString text() const { return text_; }
    QColor colour() const { return colour_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Kind kind_;
    QString text_;
    QColor colour_;
};

}  // namespace mvx::tool
