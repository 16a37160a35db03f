#include "DataControlClipboard.h"

#include "wlr-data-control-unstable-v1-client-protocol.h"

#include <QEventLoop>
#include <QTimer>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>
#include <wayland-client.h>

namespace quill {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// A task handed to the connection's thread is a few requests; the thread never waits on the
// compositor, so only a broken process would miss this.
constexpr auto kCallTimeout = 2s;
// A reader that takes our contents but stops reading must not keep a thread forever.
constexpr auto kServeTimeout = 5s;

class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : m_fd(fd) {}
    ~FileDescriptor() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

int remainingMs(Clock::time_point deadline) {
    return int(std::max<Clock::duration::rep>(
        0, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count()));
}

// All of a pipe's contents, or none when they exceed `cap` or do not end before the deadline.
std::optional<QByteArray> readPipe(int readEnd, qsizetype cap, Clock::time_point deadline) {
    const FileDescriptor fd(readEnd);
    fcntl(fd.get(), F_SETFL, fcntl(fd.get(), F_GETFL) | O_NONBLOCK);
    QByteArray data;
    char buffer[64 * 1024];
    for (;;) {
        pollfd p{fd.get(), POLLIN, 0};
        const int ready = ::poll(&p, 1, remainingMs(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return std::nullopt;
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n < 0)
            return std::nullopt;
        if (n == 0)
            return data;
        if (data.size() + n > cap)
            return std::nullopt;
        data.append(buffer, n);
    }
}

// Writes our contents to a reader on a thread of its own, so a slow reader holds up nothing.
void serve(int writeEnd, QByteArray bytes) {
    std::thread([writeEnd, bytes = std::move(bytes)] {
        // A reader that closes early must not end the process with SIGPIPE.
        sigset_t pipeSignal;
        sigemptyset(&pipeSignal);
        sigaddset(&pipeSignal, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
        const FileDescriptor fd(writeEnd);
        fcntl(fd.get(), F_SETFL, fcntl(fd.get(), F_GETFL) | O_NONBLOCK);
        const Clock::time_point deadline = Clock::now() + kServeTimeout;
        qsizetype written = 0;
        while (written < bytes.size()) {
            pollfd p{fd.get(), POLLOUT, 0};
            const int ready = ::poll(&p, 1, remainingMs(deadline));
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready <= 0)
                return;
            const ssize_t n = ::write(fd.get(), bytes.constData() + written, size_t(bytes.size() - written));
            if (n < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            if (n < 0)
                return;
            written += n;
        }
    }).detach();
}

} // namespace

const QStringList& DataControlClipboard::textMimeTypes() {
    static const QStringList types = {QStringLiteral("text/plain;charset=utf-8"),
                                      QStringLiteral("UTF8_STRING"), QStringLiteral("text/plain"),
                                      QStringLiteral("STRING"), QStringLiteral("TEXT")};
    return types;
}

// The Wayland side. Every Wayland object is used on the connection's own thread only; other
// threads hand it tasks through `call`.
class DataControlClipboard::Connection {
public:
    struct Source {
        Connection* connection;
        zwlr_data_control_source_v1* source;
        QList<ClipboardFormat> formats;
        bool primary;
    };
    // What a selection holds: our own formats while we own it, else the owner's MIME types.
    struct Contents {
        std::optional<QList<ClipboardFormat>> own;
        QStringList offered;
    };

    static std::shared_ptr<Connection> open() {
        auto connection = std::make_shared<Connection>();
        if (!connection->connect())
            return nullptr;
        connection->m_thread = std::thread([raw = connection.get()] { raw->loop(); });
        return connection;
    }

    Connection() = default;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    ~Connection() {
        if (m_thread.joinable()) {
            {
                const std::lock_guard lock(m_mutex);
                m_stop = true;
            }
            wake();
            m_thread.join();
        }
        for (auto& [offer, types] : m_offers)
            zwlr_data_control_offer_v1_destroy(offer);
        for (auto& source : m_sources)
            zwlr_data_control_source_v1_destroy(source->source);
        if (m_device)
            zwlr_data_control_device_v1_destroy(m_device);
        if (m_manager)
            zwlr_data_control_manager_v1_destroy(m_manager);
        if (m_seat)
            wl_seat_destroy(m_seat);
        if (m_registry)
            wl_registry_destroy(m_registry);
        if (m_display)
            wl_display_disconnect(m_display);
        if (m_wake >= 0)
            ::close(m_wake);
    }

    // Runs `task` on the connection's thread and returns its result; none if the thread did
    // not get to it in time.
    template <typename Task> auto call(Task task) -> std::optional<decltype(task())> {
        using Result = decltype(task());
        auto packaged = std::make_shared<std::packaged_task<Result()>>(std::move(task));
        std::future<Result> result = packaged->get_future();
        {
            const std::lock_guard lock(m_mutex);
            m_tasks.emplace_back([packaged] { (*packaged)(); });
        }
        wake();
        if (result.wait_for(kCallTimeout) != std::future_status::ready)
            return std::nullopt;
        return result.get();
    }

    // The following run on the connection's thread.

    Contents contents(bool primary) const {
        Contents contents;
        if (const Source* own = primary ? m_ownPrimary : m_ownClipboard)
            contents.own = own->formats;
        else if (auto* offer = primary ? m_primary : m_selection)
            contents.offered = m_offers.at(offer);
        return contents;
    }

    // The read end of a pipe the selection's owner writes `mimeType` into; -1 when the
    // selection changed away or the pipe could not be made.
    int receive(bool primary, const QString& mimeType) {
        auto* offer = primary ? m_primary : m_selection;
        int ends[2];
        if (!offer || pipe2(ends, O_CLOEXEC) != 0)
            return -1;
        zwlr_data_control_offer_v1_receive(offer, mimeType.toUtf8().constData(), ends[1]);
        wl_display_flush(m_display);
        ::close(ends[1]);
        return ends[0];
    }

    bool set(bool primary, const QList<ClipboardFormat>& formats) {
        if (!m_device || (primary && !supportsPrimary()))
            return false;
        zwlr_data_control_source_v1* handle = nullptr;
        Source* source = nullptr;
        if (!formats.isEmpty()) {
            handle = zwlr_data_control_manager_v1_create_data_source(m_manager);
            m_sources.push_back(std::make_unique<Source>(Source{this, handle, formats, primary}));
            source = m_sources.back().get();
            zwlr_data_control_source_v1_add_listener(handle, &kSourceListener, source);
            for (const ClipboardFormat& format : formats)
                zwlr_data_control_source_v1_offer(handle, format.first.toUtf8().constData());
        }
        if (primary) {
            zwlr_data_control_device_v1_set_primary_selection(m_device, handle);
            m_ownPrimary = source;
        } else {
            zwlr_data_control_device_v1_set_selection(m_device, handle);
            m_ownClipboard = source;
        }
        wl_display_flush(m_display);
        return true;
    }

    bool supportsPrimary() const {
        return m_manager && zwlr_data_control_manager_v1_get_version(m_manager) >= 2;
    }

    // Called on the connection's thread.
    std::function<void()> onClipboardChanged;
    std::function<void()> onOwnContentsRead;

private:
    bool connect() {
        m_display = wl_display_connect(nullptr);
        if (!m_display)
            return false;
        m_registry = wl_display_get_registry(m_display);
        wl_registry_add_listener(m_registry, &kRegistryListener, this);
        if (wl_display_roundtrip(m_display) < 0 || !m_manager || !m_seat)
            return false;
        m_device = zwlr_data_control_manager_v1_get_data_device(m_manager, m_seat);
        zwlr_data_control_device_v1_add_listener(m_device, &kDeviceListener, this);
        // The first selection events arrive in answer to the device.
        if (wl_display_roundtrip(m_display) < 0)
            return false;
        m_wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        return m_wake >= 0;
    }

    void wake() const {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(m_wake, &one, sizeof one);
    }

    void loop() {
        const int displayFd = wl_display_get_fd(m_display);
        bool broken = false;
        for (;;) {
            std::deque<std::function<void()>> tasks;
            {
                const std::lock_guard lock(m_mutex);
                if (m_stop)
                    return;
                tasks.swap(m_tasks);
            }
            for (auto& task : tasks)
                task();
            if (!broken) {
                while (wl_display_prepare_read(m_display) != 0)
                    wl_display_dispatch_pending(m_display);
                wl_display_flush(m_display);
            }
            pollfd fds[2] = {{m_wake, POLLIN, 0}, {broken ? -1 : displayFd, POLLIN, 0}};
            const int ready = ::poll(fds, 2, -1);
            if (!broken) {
                if (ready > 0 && (fds[1].revents & POLLIN))
                    wl_display_read_events(m_display);
                else
                    wl_display_cancel_read(m_display);
                wl_display_dispatch_pending(m_display);
                if (wl_display_get_error(m_display) != 0 || (fds[1].revents & (POLLERR | POLLHUP))) {
                    // The compositor is gone: nothing can be read or served any more.
                    broken = true;
                    m_selection = m_primary = nullptr;
                    m_ownClipboard = m_ownPrimary = nullptr;
                    m_device = nullptr;
                }
            }
            if (fds[0].revents & POLLIN) {
                uint64_t count = 0;
                [[maybe_unused]] const ssize_t n = ::read(m_wake, &count, sizeof count);
            }
        }
    }

    void forgetOffer(zwlr_data_control_offer_v1* offer) {
        if (!offer)
            return;
        m_offers.erase(offer);
        zwlr_data_control_offer_v1_destroy(offer);
    }

    void replaceOffer(bool primary, zwlr_data_control_offer_v1* offer) {
        auto*& current = primary ? m_primary : m_selection;
        if (current != offer)
            forgetOffer(current);
        current = offer;
        if (!primary && onClipboardChanged)
            onClipboardChanged();
    }

    static void global(void* data, wl_registry* registry, uint32_t name, const char* interface,
                       uint32_t version) {
        auto* self = static_cast<Connection*>(data);
        if (std::strcmp(interface, zwlr_data_control_manager_v1_interface.name) == 0 && !self->m_manager) {
            self->m_manager = static_cast<zwlr_data_control_manager_v1*>(wl_registry_bind(
                registry, name, &zwlr_data_control_manager_v1_interface, std::min(version, 2U)));
        } else if (std::strcmp(interface, wl_seat_interface.name) == 0 && !self->m_seat) {
            self->m_seat = static_cast<wl_seat*>(
                wl_registry_bind(registry, name, &wl_seat_interface, std::min(version, 2U)));
        }
    }
    static void globalRemove(void*, wl_registry*, uint32_t) {}

    static void dataOffer(void* data, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* offer) {
        auto* self = static_cast<Connection*>(data);
        self->m_offers[offer] = {};
        zwlr_data_control_offer_v1_add_listener(offer, &kOfferListener, self);
    }
    static void selection(void* data, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* offer) {
        static_cast<Connection*>(data)->replaceOffer(false, offer);
    }
    static void primarySelection(void* data, zwlr_data_control_device_v1*,
                                 zwlr_data_control_offer_v1* offer) {
        static_cast<Connection*>(data)->replaceOffer(true, offer);
    }
    static void finished(void* data, zwlr_data_control_device_v1* device) {
        auto* self = static_cast<Connection*>(data);
        zwlr_data_control_device_v1_destroy(device);
        self->m_device = nullptr;
        self->m_ownClipboard = self->m_ownPrimary = nullptr;
    }

    static void offered(void* data, zwlr_data_control_offer_v1* offer, const char* mimeType) {
        auto* self = static_cast<Connection*>(data);
        const auto it = self->m_offers.find(offer);
        if (it != self->m_offers.end())
            it->second.append(QString::fromUtf8(mimeType));
    }

    static void send(void* data, zwlr_data_control_source_v1*, const char* mimeType, int32_t fd) {
        auto* source = static_cast<Source*>(data);
        const QString wanted = QString::fromUtf8(mimeType);
        for (const ClipboardFormat& format : std::as_const(source->formats)) {
            if (format.first == wanted) {
                serve(fd, format.second);
                if (!source->primary && source->connection->onOwnContentsRead)
                    source->connection->onOwnContentsRead();
                return;
            }
        }
        ::close(fd);
    }
    static void cancelled(void* data, zwlr_data_control_source_v1* handle) {
        auto* source = static_cast<Source*>(data);
        Connection* self = source->connection;
        if (self->m_ownClipboard == source)
            self->m_ownClipboard = nullptr;
        if (self->m_ownPrimary == source)
            self->m_ownPrimary = nullptr;
        zwlr_data_control_source_v1_destroy(handle);
        std::erase_if(self->m_sources, [source](const auto& s) { return s.get() == source; });
    }

    static constexpr wl_registry_listener kRegistryListener{&global, &globalRemove};
    static constexpr zwlr_data_control_device_v1_listener kDeviceListener{&dataOffer, &selection, &finished,
                                                                          &primarySelection};
    static constexpr zwlr_data_control_offer_v1_listener kOfferListener{&offered};
    static constexpr zwlr_data_control_source_v1_listener kSourceListener{&send, &cancelled};

    wl_display* m_display = nullptr;
    wl_registry* m_registry = nullptr;
    wl_seat* m_seat = nullptr;
    zwlr_data_control_manager_v1* m_manager = nullptr;
    zwlr_data_control_device_v1* m_device = nullptr;
    std::map<zwlr_data_control_offer_v1*, QStringList> m_offers;
    zwlr_data_control_offer_v1* m_selection = nullptr;
    zwlr_data_control_offer_v1* m_primary = nullptr;
    std::vector<std::unique_ptr<Source>> m_sources;
    const Source* m_ownClipboard = nullptr;
    const Source* m_ownPrimary = nullptr;

    int m_wake = -1;
    std::thread m_thread;
    std::mutex m_mutex;
    std::deque<std::function<void()>> m_tasks;
    bool m_stop = false;
};

namespace {

using Connection = DataControlClipboard::Connection;

// Reads the formats offered for a selection within the limits, on the calling thread.
QList<ClipboardFormat> readOffered(Connection& connection, bool primary, const QStringList& offered,
                                   const ClipboardReadLimits& limits, Clock::time_point deadline) {
    QList<ClipboardFormat> result;
    qsizetype total = 0;
    for (const QString& mimeType : offered) {
        if (Clock::now() >= deadline)
            break;
        const int fd =
            connection
                .call([&connection, primary, mimeType] { return connection.receive(primary, mimeType); })
                .value_or(-1);
        if (fd < 0)
            break;
        const auto bytes =
            readPipe(fd, std::min(limits.maxFormatBytes, limits.maxTotalBytes - total), deadline);
        if (bytes && !bytes->isEmpty()) {
            total += bytes->size();
            result.append({mimeType, *bytes});
        }
    }
    return result;
}

// Runs `read` on a thread of its own while the caller's event loop handles everything but user
// input, and gives up shortly after the deadline; the thread owns what it uses.
QList<ClipboardFormat> readAside(std::function<QList<ClipboardFormat>()> read, Clock::time_point deadline) {
    auto result = std::make_shared<std::promise<QList<ClipboardFormat>>>();
    std::future<QList<ClipboardFormat>> answer = result->get_future();
    std::thread([read = std::move(read), result] { result->set_value(read()); }).detach();
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (answer.wait_for(0s) == std::future_status::ready || Clock::now() > deadline + 100ms)
            loop.quit();
    });
    poll.start(5);
    if (answer.wait_for(0s) != std::future_status::ready)
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    if (answer.wait_for(0s) != std::future_status::ready)
        return {};
    return answer.get();
}

QList<ClipboardFormat> withinLimits(const QList<ClipboardFormat>& formats,
                                    const ClipboardReadLimits& limits) {
    QList<ClipboardFormat> result;
    qsizetype total = 0;
    for (const ClipboardFormat& format : formats) {
        if (format.second.isEmpty() || format.second.size() > limits.maxFormatBytes ||
            total + format.second.size() > limits.maxTotalBytes)
            continue;
        total += format.second.size();
        result.append(format);
    }
    return result;
}

QList<ClipboardFormat> asText(const QString& text) {
    QList<ClipboardFormat> formats;
    const QByteArray bytes = text.toUtf8();
    for (const QString& type : DataControlClipboard::textMimeTypes())
        formats.append({type, bytes});
    return formats;
}

} // namespace

std::unique_ptr<DataControlClipboard> DataControlClipboard::create() {
    auto connection = Connection::open();
    if (!connection)
        return nullptr;
    return std::unique_ptr<DataControlClipboard>(new DataControlClipboard(std::move(connection)));
}

DataControlClipboard::DataControlClipboard(std::shared_ptr<Connection> connection)
    : m_connection(std::move(connection)) {
    // Queued calls to this object are dropped by Qt once it is gone; the destructor stops new ones.
    m_connection->call([this, c = m_connection.get()] {
        c->onClipboardChanged = [this] {
            QMetaObject::invokeMethod(this, &Clipboard::changed, Qt::QueuedConnection);
        };
        c->onOwnContentsRead = [this] {
            QMetaObject::invokeMethod(this, &Clipboard::contentsRead, Qt::QueuedConnection);
        };
        return true;
    });
}

DataControlClipboard::~DataControlClipboard() {
    m_connection->call([c = m_connection.get()] {
        c->onClipboardChanged = nullptr;
        c->onOwnContentsRead = nullptr;
        return true;
    });
}

QList<ClipboardFormat> DataControlClipboard::readAll(const ClipboardReadLimits& limits) {
    const auto contents = m_connection->call([c = m_connection.get()] { return c->contents(false); });
    if (!contents)
        return {};
    if (contents->own)
        return withinLimits(*contents->own, limits);
    const Clock::time_point deadline = Clock::now() + limits.timeBudget;
    return readAside([connection = m_connection, offered = contents->offered, limits,
                      deadline] { return readOffered(*connection, false, offered, limits, deadline); },
                     deadline);
}

std::optional<QString> DataControlClipboard::textOf(bool primary) {
    const auto contents =
        m_connection->call([c = m_connection.get(), primary] { return c->contents(primary); });
    if (!contents)
        return std::nullopt;
    const QStringList& types = textMimeTypes();
    if (contents->own) {
        for (const QString& type : types) {
            for (const ClipboardFormat& format : std::as_const(*contents->own)) {
                if (format.first == type)
                    return QString::fromUtf8(format.second);
            }
        }
        return std::nullopt;
    }
    for (const QString& type : types) {
        if (!contents->offered.contains(type))
            continue;
        const ClipboardReadLimits limits;
        const Clock::time_point deadline = Clock::now() + limits.timeBudget;
        const QList<ClipboardFormat> read =
            readAside([connection = m_connection, primary, type, limits,
                       deadline] { return readOffered(*connection, primary, {type}, limits, deadline); },
                      deadline);
        if (read.isEmpty())
            return std::nullopt;
        return type == QLatin1String("STRING") ? QString::fromLatin1(read.constFirst().second)
                                               : QString::fromUtf8(read.constFirst().second);
    }
    return std::nullopt;
}

std::optional<QString> DataControlClipboard::text() {
    return textOf(false);
}

std::optional<QString> DataControlClipboard::selectionText() {
    return textOf(true);
}

void DataControlClipboard::clear() {
    m_connection->call([c = m_connection.get()] { return c->set(false, {}); });
}

void DataControlClipboard::setText(const QString& text) {
    setFormats(asText(text));
}

void DataControlClipboard::setFormats(const QList<ClipboardFormat>& formats) {
    m_connection->call([c = m_connection.get(), formats] { return c->set(false, formats); });
}

void DataControlClipboard::setSelectionText(const QString& text) {
    m_connection->call([c = m_connection.get(), formats = asText(text)] { return c->set(true, formats); });
}

} // namespace quill
