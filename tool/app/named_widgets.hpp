// Making the pages' named controls: objectName from the model's name tables,
// the caption as the accessible name, so tests, screen readers and
// automation find the same control.
#pragma once

#include <QLineEdit>
#include <QString>
#include <string_view>

namespace mvx::tool {

inline QString qname(std::string_view name)
{
    return QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
}

template <typename W>
W* named(W* widget, std::string_view name, const QString& caption)
{
    widget->setObjectName(qname(name));
    widget->setAccessibleName(caption);
    return widget;
}

// A read-only text field.
inline QLineEdit* readOnlyEdit(std::string_view name, const QString& caption, QWidget* parent)
{
    auto* edit = named(new QLineEdit(parent), name, caption);
    edit->setReadOnly(true);
    return edit;
}

}  // namespace mvx::tool
