#include "FileSecretStore.h"

#include "platform/Log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace quill {
namespace {

QString itemKey(const QString& service, const QString& account) {
    return service + u'/' + account;
}

SecretResult status(SecretResult::Status s, QString message = {}) {
    SecretResult r;
    r.status = s;
    r.message = std::move(message);
    return r;
}

std::optional<QJsonObject> readItems(const QString& path, QString* error) {
    QFile file(path);
    if (!file.exists())
        return QJsonObject{};
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return std::nullopt;
    }
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (parseError.error != QJsonParseError::NoError || !doc.isObject()) {
        *error = QStringLiteral("%1 is not a valid secrets file").arg(path);
        return std::nullopt;
    }
    return doc.object();
}

bool writeItems(const QString& path, const QJsonObject& items, QString* error) {
    const QFileInfo info(path);
    if (!QDir().mkpath(info.absolutePath())) {
        *error = QStringLiteral("cannot create %1").arg(info.absolutePath());
        return false;
    }
    QFile::setPermissions(info.absolutePath(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = file.errorString();
        return false;
    }
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    const QByteArray bytes = QJsonDocument(items).toJson(QJsonDocument::Compact);
    if (file.write(bytes) != bytes.size() || !file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

} // namespace

FileSecretStore::FileSecretStore(QString path) : m_path(std::move(path)) {}

SecretResult FileSecretStore::store(const QString& service, const QString& account, const QByteArray& value) {
    QString error;
    auto items = readItems(m_path, &error);
    if (!items)
        return status(SecretResult::Status::failed, error);
    items->insert(itemKey(service, account), QString::fromLatin1(value.toBase64()));
    if (!writeItems(m_path, *items, &error))
        return status(SecretResult::Status::failed, error);
    return status(SecretResult::Status::ok);
}

SecretResult FileSecretStore::lookup(const QString& service, const QString& account) {
    QString error;
    const auto items = readItems(m_path, &error);
    if (!items)
        return status(SecretResult::Status::failed, error);
    const auto it = items->constFind(itemKey(service, account));
    if (it == items->constEnd() || !it->isString())
        return status(SecretResult::Status::notFound);
    SecretResult r = status(SecretResult::Status::ok);
    r.value = QByteArray::fromBase64(it->toString().toLatin1());
    return r;
}

SecretResult FileSecretStore::clear(const QString& service, const QString& account) {
    QString error;
    auto items = readItems(m_path, &error);
    if (!items)
        return status(SecretResult::Status::failed, error);
    if (!items->contains(itemKey(service, account)))
        return status(SecretResult::Status::notFound);
    items->remove(itemKey(service, account));
    if (!writeItems(m_path, *items, &error))
        return status(SecretResult::Status::failed, error);
    return status(SecretResult::Status::ok);
}

} // namespace quill
