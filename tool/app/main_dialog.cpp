#include "app/main_dialog.hpp"

namespace mvx::tool {

MainDialog::MainDialog(QWidget* parent) : QDialog(parent)
{
    setObjectName("mainDialog");
    setWindowTitle(QString::fromLatin1(kDefaultTitle));
    resize(640, 480);
}

}  // namespace mvx::tool
