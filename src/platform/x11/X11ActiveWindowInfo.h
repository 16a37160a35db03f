#pragma once

#include "platform/ActiveWindowInfo.h"

#include <memory>

namespace quill {

// The root window's _NET_ACTIVE_WINDOW, on an X connection of its own.
class X11ActiveWindowInfo final : public ActiveWindowInfo {
public:
    X11ActiveWindowInfo();
    ~X11ActiveWindowInfo() override;
    X11ActiveWindowInfo(const X11ActiveWindowInfo&) = delete;
    X11ActiveWindowInfo& operator=(const X11ActiveWindowInfo&) = delete;

    QStringList applicationNames() override;
    bool holdsPrimarySelection() override;

private:
    struct Connection;
    std::unique_ptr<Connection> m_connection;
};

} // namespace quill
