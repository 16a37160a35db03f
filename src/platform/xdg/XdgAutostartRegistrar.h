#pragma once

#include "platform/AutostartRegistrar.h"

namespace quill {

// An XDG autostart entry, `<configHome>/autostart/<desktopId>.desktop`, that starts `executable`.
class XdgAutostartRegistrar final : public AutostartRegistrar {
public:
    XdgAutostartRegistrar(QString configHome, QString desktopId, QString executable);
    bool setEnabled(bool enabled, QString* error = nullptr) override;
    bool isEnabled() const override;
    QString entryPath() const;

private:
    QString m_configHome;
    QString m_desktopId;
    QString m_executable;
};

} // namespace quill
