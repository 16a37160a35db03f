#include "ModelList.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>

namespace quill {
namespace {

// Ids are sent back in requests and names are shown: neither may carry control characters.
bool isPrintable(const QString& text) {
    return std::none_of(text.cbegin(), text.cend(),
                        [](QChar c) { return c.category() == QChar::Other_Control; });
}

std::optional<ModelInfo> parseEntry(const QJsonValue& value) {
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    ModelInfo model;
    model.id = object.value(QLatin1StringView("id")).toString();
    if (model.id.trimmed().isEmpty() || model.id.size() > ModelList::maxIdLength || !isPrintable(model.id))
        return std::nullopt;
    model.name = object.value(QLatin1StringView("name")).toString().trimmed();
    if (model.name.isEmpty() || model.name.size() > ModelList::maxNameLength || !isPrintable(model.name))
        model.name = model.id;
    model.local = object.value(QLatin1StringView("local")).toBool(false);
    return model;
}

} // namespace

std::optional<ModelList> parseModelList(const QByteArray& body) {
    if (body.size() > ModelList::maxReplyBytes)
        return std::nullopt;
    const QJsonDocument document = QJsonDocument::fromJson(body);
    const QJsonValue models = document.object().value(QLatin1StringView("models"));
    if (!document.isObject() || !models.isArray())
        return std::nullopt;
    ModelList list;
    const QJsonArray entries = models.toArray();
    for (const QJsonValue value : entries) {
        if (list.models.size() == ModelList::maxModels)
            break;
        const auto model = parseEntry(value);
        const auto sameId = [&model](const ModelInfo& listed) { return listed.id == model->id; };
        if (model && std::none_of(list.models.cbegin(), list.models.cend(), sameId))
            list.models.append(*model);
    }
    list.transcription = parseEntry(document.object().value(QLatin1StringView("transcription")));
    return list;
}

} // namespace quill
