#pragma once

#include "platform/KeyEventPoster.h"

#include <memory>

namespace quill {

// The X server's XTEST extension, on a connection of its own.
class XTestKeyEventPoster final : public KeyEventPoster {
public:
    XTestKeyEventPoster();
    ~XTestKeyEventPoster() override;
    XTestKeyEventPoster(const XTestKeyEventPoster&) = delete;
    XTestKeyEventPoster& operator=(const XTestKeyEventPoster&) = delete;

    bool isAvailable() const override;
    Qt::KeyboardModifiers heldModifiers() override;
    bool isKeyHeld() override;
    void postKey(Qt::Key key, Qt::KeyboardModifiers modifiers) override;

private:
    struct Connection;
    std::unique_ptr<Connection> m_connection;
};

} // namespace quill
