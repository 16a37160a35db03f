#pragma once

#include <QString>

namespace quill {

class HostInfo {
public:
    virtual ~HostInfo() = default;
    // The machine's network host name as the system reports it, unchanged.
    virtual QString hostName() const = 0;
};

class SystemHostInfo final : public HostInfo {
public:
    QString hostName() const override;
};

} // namespace quill
