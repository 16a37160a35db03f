#pragma once

#include <QStringList>
#include <memory>

namespace quill {

// Facts about the window that has the keyboard focus.
class ActiveWindowInfo {
public:
    virtual ~ActiveWindowInfo() = default;
    // The names the active window's application goes by, most specific first: on X11 the
    // window's WM_CLASS (instance name, then class name); on Wayland the compositor's names for
    // the window (its app id) or the name the application gives itself, then its executable's
    // name. Empty when unknown.
    virtual QStringList applicationNames() = 0;
    // Whether the primary selection belongs to the active window (or a window inside it), that is,
    // whether the text last selected anywhere was selected there.
    virtual bool holdsPrimarySelection() = 0;
};

} // namespace quill
