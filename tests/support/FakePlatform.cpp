#include "FakePlatform.h"

#include <QByteArrayView>

namespace quill::test {
namespace {
QString key(const QString& service, const QString& account) {
    return service + u'/' + account;
}

SecretResult result(SecretResult::Status status, int code = 0) {
    SecretResult r;
    r.status = status;
    r.code = code;
    return r;
}
} // namespace

SecretResult FakeSecretStore::store(const QString& service, const QString& account, const QByteArray& value) {
    ++storeCalls;
    if (unavailable)
        return result(SecretResult::Status::unavailable, 2);
    if (failStores)
        return result(SecretResult::Status::failed, 13);
    items.insert(key(service, account), value);
    return result(SecretResult::Status::ok);
}

SecretResult FakeSecretStore::lookup(const QString& service, const QString& account) {
    ++lookupCalls;
    if (beforeLookup)
        beforeLookup();
    if (failLookups) {
        SecretResult locked = result(SecretResult::Status::failed, 5);
        locked.message = QStringLiteral("the collection is locked");
        return locked;
    }
    if (unavailable)
        return result(SecretResult::Status::unavailable, 2);
    const auto it = items.constFind(key(service, account));
    if (it == items.cend())
        return result(SecretResult::Status::notFound);
    SecretResult r = result(SecretResult::Status::ok);
    r.value = *it;
    return r;
}

SecretResult FakeSecretStore::clear(const QString& service, const QString& account) {
    if (unavailable)
        return result(SecretResult::Status::unavailable, 2);
    return result(items.remove(key(service, account)) ? SecretResult::Status::ok
                                                      : SecretResult::Status::notFound);
}

namespace {
LogCapture* activeCapture = nullptr;
QtMessageHandler previousHandler = nullptr;

void captureMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (activeCapture && type == QtInfoMsg && context.category &&
        QByteArrayView(context.category).startsWith("quillpoint.")) {
        activeCapture->lines << message;
        return;
    }
    if (previousHandler)
        previousHandler(type, context, message);
}
} // namespace

LogCapture::LogCapture() {
    activeCapture = this;
    previousHandler = qInstallMessageHandler(&captureMessage);
}

LogCapture::~LogCapture() {
    qInstallMessageHandler(previousHandler);
    activeCapture = nullptr;
}

} // namespace quill::test
