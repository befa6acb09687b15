// Finding a page's or dialog's controls by objectName in widget tests; a
// control that is not there fails the test that asked for it.
#pragma once

#include <QString>
#include <QWidget>
#include <gtest/gtest.h>

#include <string_view>

namespace mvx::test {

template <typename W = QWidget>
W* child(QWidget& parent, std::string_view name)
{
    auto* w = parent.findChild<W*>(QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())));
    EXPECT_NE(w, nullptr) << name;
    return w;
}

}  // namespace mvx::test
