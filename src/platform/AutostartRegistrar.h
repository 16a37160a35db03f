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

} // namespace quill
