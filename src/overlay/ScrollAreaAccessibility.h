#pragma once

namespace quill {

// Qt's accessible scroll area lists a scroll bar only while it shows, and hands out a child by
// index without checking it against that list. When a scroll bar comes or goes (text streaming
// into the panel, a window resized), a screen reader that counted two children and asks for the
// second one a moment later makes Qt read past the list and crash. Once this is called, every
// scroll area is described as a plain widget instead, whose children are all its parts, shown or
// not: the count holds. Call it before the first scroll area is created; calling again is harmless.
void describeScrollAreasAsPlainWidgets();

} // namespace quill
