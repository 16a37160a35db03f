#pragma once

#include <QString>
#include <optional>

namespace quill::audio {

// Why the shared object at `path` cannot be mapped safely, or none when it can. The dynamic
// loader maps the segments the program headers name and reads them through the mapping: in a
// file cut short (an interrupted copy or upgrade) that read faults with SIGBUS inside dlopen()
// instead of failing. So every table and segment the loader touches must lie inside the file.
std::optional<QString> elfImageProblem(const QString& path);

} // namespace quill::audio
