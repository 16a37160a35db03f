#pragma once

#include <QString>

namespace quill {

// Starting the program when the user logs in.
class AutostartRegistrar {
public:
    virtual ~AutostartRegistrar() = default;
    // Installs or removes the login entry; false (with a reason in `error`) when that failed.
    virtual bool setEnabled(bool enabled, QString* error = nullptr) = 0;
    virtual bool isEnabled() const = 0;
};

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

class NullAutostartRegistrar final : public AutostartRegistrar {
public:
    bool setEnabled(bool enabled, QString* error = nullptr) override;
    bool isEnabled() const override { return m_enabled; }

private:
    bool m_enabled = false;
};

} // namespace quill
