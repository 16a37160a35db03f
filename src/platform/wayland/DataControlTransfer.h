#pragma once

#include "platform/ClipboardTransfer.h"

#include <memory>

namespace quill {

class DataControlConnection;

// Another client's clipboard or primary selection, read through our data-control connection:
// the connection's thread asks the owner for each format, and the bytes come through a pipe on
// the reader's thread.
class DataControlTransfer final : public ClipboardTransfer {
public:
    // `offered` are the MIME types to read, as the owner offered them.
    DataControlTransfer(std::shared_ptr<DataControlConnection> connection, bool primary, QStringList offered);

    std::optional<QStringList> formats(Clock::time_point deadline) override;
    std::optional<QByteArray> fetch(const QString& format, qsizetype cap,
                                    Clock::time_point deadline) override;

private:
    std::shared_ptr<DataControlConnection> m_connection;
    bool m_primary;
    QStringList m_offered;
    // Once the selection changed away, what follows would be another owner's contents.
    bool m_selectionLost = false;
};

} // namespace quill
