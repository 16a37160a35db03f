#include "ElfImageCheck.h"

#include <QFile>
#include <cstring>
#include <elf.h>
#include <link.h>

namespace quill::audio {
namespace {

bool inside(quint64 offset, quint64 length, quint64 size) {
    return offset <= size && length <= size - offset;
}

} // namespace

std::optional<QString> elfImageProblem(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("cannot be read: ") + file.errorString();
    const quint64 size = quint64(file.size());
    ElfW(Ehdr) header{};
    if (file.read(reinterpret_cast<char*>(&header), sizeof header) != qint64(sizeof header) ||
        std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0)
        return QStringLiteral("is not a shared library");
    if (header.e_ident[EI_CLASS] != (sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32) ||
        header.e_type != ET_DYN || header.e_phentsize != sizeof(ElfW(Phdr)))
        return QStringLiteral("is not a shared library for this system");
    // The section table comes last in the file: it being whole tells a file cut short even where
    // every segment survived.
    if (!inside(header.e_phoff, quint64(header.e_phnum) * header.e_phentsize, size) ||
        !inside(header.e_shoff, quint64(header.e_shnum) * header.e_shentsize, size))
        return QStringLiteral("is damaged or cut short (%1 bytes)").arg(size);
    if (!file.seek(qint64(header.e_phoff)))
        return QStringLiteral("cannot be read: ") + file.errorString();
    for (int i = 0; i < header.e_phnum; ++i) {
        ElfW(Phdr) segment{};
        if (file.read(reinterpret_cast<char*>(&segment), sizeof segment) != qint64(sizeof segment))
            return QStringLiteral("is damaged or cut short (%1 bytes)").arg(size);
        if ((segment.p_type == PT_LOAD || segment.p_type == PT_DYNAMIC) &&
            !inside(segment.p_offset, segment.p_filesz, size))
            return QStringLiteral("is damaged or cut short (%1 bytes, a segment ends at byte %2)")
                .arg(size)
                .arg(quint64(segment.p_offset) + segment.p_filesz);
    }
    return std::nullopt;
}

} // namespace quill::audio
