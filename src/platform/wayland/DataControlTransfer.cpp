#include "DataControlTransfer.h"

#include "DataControlConnection.h"
#include "PipeIo.h"

namespace quill {

DataControlTransfer::DataControlTransfer(std::shared_ptr<DataControlConnection> connection, bool primary,
                                         QStringList offered)
    : m_connection(std::move(connection))
    , m_primary(primary)
    , m_offered(std::move(offered)) {}

std::optional<QStringList> DataControlTransfer::formats(Clock::time_point) {
    return m_offered;
}

std::optional<QByteArray> DataControlTransfer::fetch(const QString& format, qsizetype cap,
                                                     Clock::time_point deadline) {
    if (m_selectionLost)
        return std::nullopt;
    const int fd = m_connection
                       ->call([connection = m_connection.get(), primary = m_primary, format] {
                           return connection->receive(primary, format);
                       })
                       .value_or(-1);
    if (fd < 0) {
        m_selectionLost = true;
        return std::nullopt;
    }
    return wayland::readPipe(fd, cap, deadline);
}

} // namespace quill
