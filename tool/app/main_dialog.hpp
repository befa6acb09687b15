// The program's first window: for now an empty dialog carrying the tool's title.
#pragma once

#include <QDialog>

namespace mvx::tool {

inline constexpr const char* kDefaultTitle = "Norvane ISP Tool V2.2";

class MainDialog : public QDialog {
    Q_OBJECT
public:
    explicit MainDialog(QWidget* parent = nullptr);
};

}  // namespace mvx::tool
