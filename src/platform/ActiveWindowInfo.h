#pragma once

#include <QStringList>
#include <memory>

namespace quill {

// Facts about the window that has the keyboard focus.
class ActiveWindowInfo {
public:
    virtual ~ActiveWindowInfo() = default;
    // The active window's WM_CLASS: instance name then class name; empty when unknown.
    virtual QStringList windowClass() = 0;
};

} // namespace quill
