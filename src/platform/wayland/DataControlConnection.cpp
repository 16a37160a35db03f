#include "DataControlConnection.h"

#include "BoundedRoundtrip.h"
#include "platform/Log.h"

#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace quill {
namespace {

void log(const QString& message) {
    logLine(lcPlatform(), QStringLiteral("DataControlConnection"), message);
}

} // namespace

std::shared_ptr<DataControlConnection> DataControlConnection::open() {
    auto connection = std::make_shared<DataControlConnection>();
    if (!connection->connect())
        return nullptr;
    connection->m_thread = std::thread([raw = connection.get()] { raw->loop(); });
    return connection;
}

DataControlConnection::~DataControlConnection() {
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

DataControlConnection::Contents DataControlConnection::contents(bool primary) const {
    Contents contents;
    if (const Source* own = primary ? m_ownPrimary : m_ownClipboard)
        contents.own = own->formats;
    else if (auto* offer = primary ? m_primary : m_selection)
        contents.offered = m_offers.at(offer);
    return contents;
}

int DataControlConnection::receive(bool primary, const QString& mimeType) {
    auto* offer = primary ? m_primary : m_selection;
    int ends[2];
    if (!offer || pipe2(ends, O_CLOEXEC) != 0)
        return -1;
    zwlr_data_control_offer_v1_receive(offer, mimeType.toUtf8().constData(), ends[1]);
    wl_display_flush(m_display);
    ::close(ends[1]);
    return ends[0];
}

bool DataControlConnection::set(bool primary, const QList<ClipboardFormat>& formats) {
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

bool DataControlConnection::supportsPrimary() const {
    return m_manager && zwlr_data_control_manager_v1_get_version(m_manager) >= 2;
}

bool DataControlConnection::connect() {
    m_display = wl_display_connect(nullptr);
    if (!m_display)
        return false;
    m_wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_wake < 0)
        return false;
    // The program's start waits this long. A healthy compositor can take longer to answer a new
    // client (KWin hashes the executable of every client that connects, over a second for an
    // unstripped build), so one that has not answered by then but has not failed either is
    // followed on the connection's thread: the device comes when the compositor answers.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    m_registry = wl_display_get_registry(m_display);
    wl_registry_add_listener(m_registry, &kRegistryListener, this);
    if (!boundedRoundtrip(m_display, deadline)) {
        if (wl_display_get_error(m_display) != 0)
            return false;
        log(QStringLiteral("The compositor has not answered within a second; the clipboard follows "
                           "it once it does"));
        wl_callback_add_listener(wl_display_sync(m_display), &kLateAnswerListener, this);
        return true;
    }
    if (!m_device)
        return false;
    // The first selection events arrive in answer to the device; later ones on the thread.
    boundedRoundtrip(m_display, deadline);
    return true;
}

void DataControlConnection::lateAnswer(void* data, wl_callback* callback, uint32_t) {
    wl_callback_destroy(callback);
    if (!static_cast<DataControlConnection*>(data)->m_device)
        log(QStringLiteral("The compositor offers no data-control; the clipboard works only while a "
                           "Quillpoint window has the focus"));
}

void DataControlConnection::wake() const {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(m_wake, &one, sizeof one);
}

void DataControlConnection::loop() {
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

void DataControlConnection::forgetOffer(zwlr_data_control_offer_v1* offer) {
    if (!offer)
        return;
    m_offers.erase(offer);
    zwlr_data_control_offer_v1_destroy(offer);
}

void DataControlConnection::replaceOffer(bool primary, zwlr_data_control_offer_v1* offer) {
    auto*& current = primary ? m_primary : m_selection;
    if (current != offer)
        forgetOffer(current);
    current = offer;
    if (!primary && onClipboardChanged)
        onClipboardChanged();
}

void DataControlConnection::global(void* data, wl_registry* registry, uint32_t name, const char* interface,
                                   uint32_t version) {
    auto* self = static_cast<DataControlConnection*>(data);
    if (std::strcmp(interface, zwlr_data_control_manager_v1_interface.name) == 0 && !self->m_manager) {
        self->m_manager = static_cast<zwlr_data_control_manager_v1*>(
            wl_registry_bind(registry, name, &zwlr_data_control_manager_v1_interface, std::min(version, 2U)));
    } else if (std::strcmp(interface, wl_seat_interface.name) == 0 && !self->m_seat) {
        self->m_seat = static_cast<wl_seat*>(
            wl_registry_bind(registry, name, &wl_seat_interface, std::min(version, 2U)));
    }
    if (self->m_manager && self->m_seat && !self->m_device) {
        self->m_device = zwlr_data_control_manager_v1_get_data_device(self->m_manager, self->m_seat);
        zwlr_data_control_device_v1_add_listener(self->m_device, &kDeviceListener, self);
    }
}

void DataControlConnection::dataOffer(void* data, zwlr_data_control_device_v1*,
                                      zwlr_data_control_offer_v1* offer) {
    auto* self = static_cast<DataControlConnection*>(data);
    self->m_offers[offer] = {};
    zwlr_data_control_offer_v1_add_listener(offer, &kOfferListener, self);
}

void DataControlConnection::selection(void* data, zwlr_data_control_device_v1*,
                                      zwlr_data_control_offer_v1* offer) {
    static_cast<DataControlConnection*>(data)->replaceOffer(false, offer);
}

void DataControlConnection::primarySelection(void* data, zwlr_data_control_device_v1*,
                                             zwlr_data_control_offer_v1* offer) {
    static_cast<DataControlConnection*>(data)->replaceOffer(true, offer);
}

void DataControlConnection::finished(void* data, zwlr_data_control_device_v1* device) {
    auto* self = static_cast<DataControlConnection*>(data);
    zwlr_data_control_device_v1_destroy(device);
    self->m_device = nullptr;
    self->m_ownClipboard = self->m_ownPrimary = nullptr;
}

void DataControlConnection::offered(void* data, zwlr_data_control_offer_v1* offer, const char* mimeType) {
    auto* self = static_cast<DataControlConnection*>(data);
    const auto it = self->m_offers.find(offer);
    try {
        if (it != self->m_offers.end())
            it->second.append(QString::fromUtf8(mimeType));
    } catch (...) {
        // A type we have no room for is a type we do not offer to read.
    }
}

void DataControlConnection::send(void* data, zwlr_data_control_source_v1*, const char* mimeType, int32_t fd) {
    auto* source = static_cast<Source*>(data);
    const ClipboardFormat* match = nullptr;
    // An exception must not unwind through libwayland's dispatch.
    try {
        const QString wanted = QString::fromUtf8(mimeType);
        for (const ClipboardFormat& format : std::as_const(source->formats)) {
            if (format.first == wanted) {
                match = &format;
                break;
            }
        }
    } catch (...) {
        match = nullptr;
    }
    if (!match) {
        ::close(fd);
        return;
    }
    source->connection->m_writer.serve(fd, match->second);
    if (!source->primary && source->connection->onOwnContentsRead)
        source->connection->onOwnContentsRead();
}

void DataControlConnection::cancelled(void* data, zwlr_data_control_source_v1* handle) {
    auto* source = static_cast<Source*>(data);
    DataControlConnection* self = source->connection;
    if (self->m_ownClipboard == source)
        self->m_ownClipboard = nullptr;
    if (self->m_ownPrimary == source)
        self->m_ownPrimary = nullptr;
    zwlr_data_control_source_v1_destroy(handle);
    std::erase_if(self->m_sources, [source](const auto& s) { return s.get() == source; });
}

} // namespace quill
