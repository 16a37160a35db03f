#include "PreferencesSections.h"

#include "overlay/ScrollAreaAccessibility.h"

#include <QScrollArea>
#include <QVBoxLayout>

namespace quill {

QVBoxLayout* addScrollingSections(QWidget* tab) {
    auto* content = new QWidget;
    auto* sections = new QVBoxLayout(content);
    sections->setContentsMargins(8, 6, 8, 6);
    sections->setSpacing(4);

    // The scroll bar shows and hides as the window is resized or a row's message appears.
    describeScrollAreasAsPlainWidgets();
    auto* scroll = new QScrollArea(tab);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setWidget(content);
    content->setAutoFillBackground(false);
    scroll->viewport()->setAutoFillBackground(false);
    auto* layout = new QVBoxLayout(tab);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(scroll);
    return sections;
}

} // namespace quill
