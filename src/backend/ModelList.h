#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

namespace quill {

// A model the backend can answer with: `id` goes into requests, `name` is shown, `local` says
// that it runs on this machine, so the text does not leave it.
struct ModelInfo {
    QString id;
    QString name;
    bool local = false;

    bool operator==(const ModelInfo&) const = default;
};

// What GET /api/models answers.
struct ModelList {
    // More than this many entries are not read; a menu of them would not be usable anyway.
    static constexpr qsizetype maxModels = 64;
    static constexpr qsizetype maxIdLength = 128;
    static constexpr qsizetype maxNameLength = 200;
    static constexpr qsizetype maxReplyBytes = qsizetype{1} * 1024 * 1024;

    // In the order the backend offers them; may be empty when it has none to answer with.
    QList<ModelInfo> models;
    std::optional<ModelInfo> transcription;

    bool operator==(const ModelList&) const = default;
};

// The list in a reply body; none when the body is not such a list at all. An entry without a
// usable id, or one already listed, is left out; a missing name reads as the id.
std::optional<ModelList> parseModelList(const QByteArray& body);

} // namespace quill
