#include "ScrollAreaAccessibility.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QScrollArea>
#include <mutex>

namespace quill {

namespace {

QAccessibleInterface* plainScrollArea(const QString& className, QObject* object) {
    if (className == QLatin1String("QScrollArea"))
        return new QAccessibleWidget(static_cast<QScrollArea*>(object), QAccessible::Client);
    return nullptr;
}

} // namespace

void describeScrollAreasAsPlainWidgets() {
    static std::once_flag installed;
    std::call_once(installed, [] { QAccessible::installFactory(plainScrollArea); });
}

} // namespace quill
