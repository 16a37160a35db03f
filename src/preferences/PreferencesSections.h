#pragma once

#include <QMargins>

class QVBoxLayout;
class QWidget;

namespace quill {

// The inner margins of one titled section of a preferences tab.
inline const QMargins preferencesSectionMargins(10, 4, 10, 6);

// Gives `tab` a frameless, vertically scrolling column and returns its layout for the sections:
// they fit the window with the usual desktop fonts, and larger fonts scroll rather than squeeze
// the controls. The caller adds the sections and a closing stretch.
QVBoxLayout* addScrollingSections(QWidget* tab);

} // namespace quill
