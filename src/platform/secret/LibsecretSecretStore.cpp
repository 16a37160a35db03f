#include "LibsecretSecretStore.h"

#include "SecretServiceWatcher.h"

#include <QCoreApplication>
#include <QThread>
#include <condition_variable>
#include <libsecret/secret.h>
#include <mutex>
#include <optional>
#include <thread>

namespace quill {
namespace {

const SecretSchema* schema() {
    static const SecretSchema s = {
        "app.quillpoint.Quillpoint.Secret",
        SECRET_SCHEMA_DONT_MATCH_NAME,
        {
            {"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
        },
        0,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
    };
    return &s;
}

// Cancels a libsecret call that has not finished within the time-out. libsecret's synchronous
// calls spin a private main context, so only another thread can interrupt them.
class Deadline {
public:
    explicit Deadline(int timeoutMs) : m_cancellable(g_cancellable_new()) {
        m_thread = std::thread([this, timeoutMs] {
            std::unique_lock lock(m_mutex);
            if (!m_cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return m_done; }))
                g_cancellable_cancel(m_cancellable);
        });
    }
    ~Deadline() {
        {
            std::lock_guard lock(m_mutex);
            m_done = true;
        }
        m_cv.notify_one();
        m_thread.join();
        g_object_unref(m_cancellable);
    }
    Deadline(const Deadline&) = delete;
    Deadline& operator=(const Deadline&) = delete;
    GCancellable* cancellable() const { return m_cancellable; }

private:
    GCancellable* m_cancellable;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_done = false;
    std::thread m_thread;
};

bool onMainThread() {
    const QCoreApplication* app = QCoreApplication::instance();
    return !app || QThread::currentThread() == app->thread();
}

// The deadline of a call on the main thread; none elsewhere.
class MainThreadDeadline {
public:
    explicit MainThreadDeadline(int timeoutMs) {
        if (onMainThread())
            m_deadline.emplace(timeoutMs);
    }
    GCancellable* cancellable() const { return m_deadline ? m_deadline->cancellable() : nullptr; }

private:
    std::optional<Deadline> m_deadline;
};

bool meansNoService(const GError* error) {
    if (error->domain == G_DBUS_ERROR) {
        switch (error->code) {
        case G_DBUS_ERROR_SERVICE_UNKNOWN:
        case G_DBUS_ERROR_NAME_HAS_NO_OWNER:
        case G_DBUS_ERROR_NO_SERVER:
        case G_DBUS_ERROR_SPAWN_EXEC_FAILED:
        case G_DBUS_ERROR_SPAWN_FAILED:
        case G_DBUS_ERROR_SPAWN_CHILD_EXITED:
        case G_DBUS_ERROR_SPAWN_SERVICE_NOT_FOUND:
        case G_DBUS_ERROR_FILE_NOT_FOUND:
            return true;
        default:
            return false;
        }
    }
    // No session bus at all: GIO fails to find or reach an address.
    if (error->domain == G_IO_ERROR)
        return error->code != G_IO_ERROR_CANCELLED && error->code != G_IO_ERROR_TIMED_OUT;
    return false;
}

SecretResult fromError(GError* error) {
    SecretResult r;
    r.status = meansNoService(error) ? SecretResult::Status::unavailable : SecretResult::Status::failed;
    r.code = error->code;
    r.message = QString::fromUtf8(error->message);
    if (error->domain == G_IO_ERROR && error->code == G_IO_ERROR_CANCELLED)
        r.message = QStringLiteral("the keyring did not answer in time");
    g_error_free(error);
    return r;
}

} // namespace

LibsecretSecretStore::LibsecretSecretStore(int timeoutMs) : m_timeoutMs(timeoutMs) {}

LibsecretSecretStore::~LibsecretSecretStore() = default;

void LibsecretSecretStore::watchUnlock(const std::function<void()>& onUnlocked) {
    m_watcher = onUnlocked ? std::make_unique<SecretServiceWatcher>(onUnlocked) : nullptr;
}

SecretResult LibsecretSecretStore::store(const QString& service, const QString& account,
                                         const QByteArray& value) {
    const QByteArray s = service.toUtf8(), a = account.toUtf8();
    const QByteArray label = QByteArrayLiteral("Quillpoint: ") + a;
    MainThreadDeadline deadline(m_timeoutMs);
    GError* error = nullptr;
    const gboolean done = secret_password_store_sync(
        schema(), SECRET_COLLECTION_DEFAULT, label.constData(), value.constData(), deadline.cancellable(),
        &error, "service", s.constData(), "account", a.constData(), nullptr);
    if (error)
        return fromError(error);
    SecretResult r;
    r.status = done ? SecretResult::Status::ok : SecretResult::Status::failed;
    return r;
}

SecretResult LibsecretSecretStore::lookup(const QString& service, const QString& account) {
    const QByteArray s = service.toUtf8(), a = account.toUtf8();
    MainThreadDeadline deadline(m_timeoutMs);
    // Locked items are found too, so that a locked collection is never taken for an empty one.
    int flags = SECRET_SEARCH_LOAD_SECRETS;
    if (!onMainThread())
        flags |= SECRET_SEARCH_UNLOCK;
    GError* error = nullptr;
    GList* found =
        secret_password_search_sync(schema(), SecretSearchFlags(flags), deadline.cancellable(), &error,
                                    "service", s.constData(), "account", a.constData(), nullptr);
    if (error)
        return fromError(error);
    SecretResult r;
    if (!found) {
        r.status = SecretResult::Status::notFound;
        return r;
    }
    SecretValue* value = secret_retrievable_retrieve_secret_sync(SECRET_RETRIEVABLE(found->data),
                                                                 deadline.cancellable(), &error);
    g_list_free_full(found, g_object_unref);
    if (error)
        return fromError(error);
    if (!value) {
        r.message = QStringLiteral("the keyring is locked");
        return r;
    }
    gsize length = 0;
    const gchar* bytes = secret_value_get(value, &length);
    r.status = SecretResult::Status::ok;
    r.value = QByteArray(bytes, qsizetype(length));
    secret_value_unref(value);
    return r;
}

SecretResult LibsecretSecretStore::clear(const QString& service, const QString& account) {
    const QByteArray s = service.toUtf8(), a = account.toUtf8();
    MainThreadDeadline deadline(m_timeoutMs);
    GError* error = nullptr;
    const gboolean removed = secret_password_clear_sync(schema(), deadline.cancellable(), &error, "service",
                                                        s.constData(), "account", a.constData(), nullptr);
    if (error)
        return fromError(error);
    SecretResult r;
    r.status = removed ? SecretResult::Status::ok : SecretResult::Status::notFound;
    return r;
}

} // namespace quill
