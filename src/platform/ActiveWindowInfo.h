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

class NullActiveWindowInfo final : public ActiveWindowInfo {
public:
    QStringList windowClass() override { return {}; }
};

// The root window's _NET_ACTIVE_WINDOW, on an X connection of its own.
class X11ActiveWindowInfo final : public ActiveWindowInfo {
public:
    X11ActiveWindowInfo();
    ~X11ActiveWindowInfo() override;
    X11ActiveWindowInfo(const X11ActiveWindowInfo&) = delete;
    X11ActiveWindowInfo& operator=(const X11ActiveWindowInfo&) = delete;

    QStringList windowClass() override;

private:
    struct Connection;
    std::unique_ptr<Connection> m_connection;
};

} // namespace quill
