#pragma once

#include <QApplication>
#include <QWidget>

namespace quill::test {

// The program's Preferences window while it is shown in this process; null otherwise.
inline QWidget* preferencesWindow() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible() && widget->windowTitle() == QStringLiteral("Quillpoint Preferences"))
            return widget;
    }
    return nullptr;
}

} // namespace quill::test
