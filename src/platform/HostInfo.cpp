#include "HostInfo.h"

#include <QSysInfo>

namespace quill {

QString SystemHostInfo::hostName() const {
    return QSysInfo::machineHostName();
}

} // namespace quill
