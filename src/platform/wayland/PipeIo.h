#pragma once

#include <QByteArray>
#include <chrono>
#include <optional>

// Moving bytes through the pipes a Wayland data transfer hands over, each step bounded by a
// deadline. Both take the descriptor over and close it.
namespace quill::wayland {

// All of a pipe's contents, or none when they exceed `cap` or do not end before the deadline.
std::optional<QByteArray> readPipe(int readEnd, qsizetype cap,
                                   std::chrono::steady_clock::time_point deadline);

// Writes all of `bytes`; false when the reader stops reading before the deadline or goes away.
bool writePipe(int writeEnd, const QByteArray& bytes, std::chrono::steady_clock::time_point deadline);

} // namespace quill::wayland
