#include "Divider.h"

#include "OverlayStyle.h"

#include <QPainter>

namespace quill {

Divider::Divider(QWidget* parent) : QWidget(parent) {
    setFixedHeight(1);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void Divider::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), OverlayStyle::withOpacity(OverlayStyle::primary(palette()), 0.12));
}

} // namespace quill
