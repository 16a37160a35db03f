#include "DataControlKeeper.h"

#include "BoundedRoundtrip.h"

#include <cstring>
#include <thread>
#include <unistd.h>

namespace quill {

DataControlKeeper::DataControlKeeper(QList<ClipboardFormat> formats) : m_formats(std::move(formats)) {
    for (const ClipboardFormat& format : m_formats)
        m_types.append(format.first.toUtf8());
}

DataControlKeeper::~DataControlKeeper() {
    if (m_offer)
        zwlr_data_control_offer_v1_destroy(m_offer);
    if (m_source)
        zwlr_data_control_source_v1_destroy(m_source);
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
}

bool DataControlKeeper::take() {
    m_display = wl_display_connect(nullptr);
    if (!m_display)
        return false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    m_registry = wl_display_get_registry(m_display);
    wl_registry_add_listener(m_registry, &kRegistryListener, this);
    if (!boundedRoundtrip(m_display, deadline) || !m_manager || !m_seat)
        return false;
    m_device = zwlr_data_control_manager_v1_get_data_device(m_manager, m_seat);
    zwlr_data_control_device_v1_add_listener(m_device, &kDeviceListener, this);
    m_source = zwlr_data_control_manager_v1_create_data_source(m_manager);
    zwlr_data_control_source_v1_add_listener(m_source, &kSourceListener, this);
    for (const QByteArray& type : std::as_const(m_types))
        zwlr_data_control_source_v1_offer(m_source, type.constData());
    zwlr_data_control_device_v1_set_selection(m_device, m_source);
    return boundedRoundtrip(m_display, deadline) && !m_lost;
}

void DataControlKeeper::serve() {
    // wl_display_dispatch fails once the compositor has closed the connection.
    while (!m_lost && wl_display_dispatch(m_display) >= 0) {
    }
    while (m_writer.pending() > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

void DataControlKeeper::global(void* data, wl_registry* registry, uint32_t name, const char* interface,
                               uint32_t) {
    auto* self = static_cast<DataControlKeeper*>(data);
    // Version 1 is all the keeper needs: without the primary selection's events it is told
    // only of the clipboard.
    if (std::strcmp(interface, zwlr_data_control_manager_v1_interface.name) == 0 && !self->m_manager)
        self->m_manager = static_cast<zwlr_data_control_manager_v1*>(
            wl_registry_bind(registry, name, &zwlr_data_control_manager_v1_interface, 1));
    else if (std::strcmp(interface, wl_seat_interface.name) == 0 && !self->m_seat)
        self->m_seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
}

// The compositor announces every clipboard, our own as well: only the source's cancellation
// says that another client took the clipboard. Each offer is kept until the next replaces it.
void DataControlKeeper::selection(void* data, zwlr_data_control_device_v1*,
                                  zwlr_data_control_offer_v1* offer) {
    auto* self = static_cast<DataControlKeeper*>(data);
    if (self->m_offer && self->m_offer != offer)
        zwlr_data_control_offer_v1_destroy(self->m_offer);
    self->m_offer = offer;
}

void DataControlKeeper::finished(void* data, zwlr_data_control_device_v1*) {
    auto* self = static_cast<DataControlKeeper*>(data);
    zwlr_data_control_device_v1_destroy(self->m_device);
    self->m_device = nullptr;
    self->m_lost = true;
}

void DataControlKeeper::send(void* data, zwlr_data_control_source_v1*, const char* mimeType, int32_t fd) {
    auto* self = static_cast<DataControlKeeper*>(data);
    for (qsizetype i = 0; i < self->m_types.size(); ++i) {
        if (self->m_types.at(i) == mimeType) {
            self->m_writer.serve(fd, self->m_formats.at(i).second);
            return;
        }
    }
    ::close(fd);
}

void DataControlKeeper::cancelled(void* data, zwlr_data_control_source_v1*) {
    static_cast<DataControlKeeper*>(data)->m_lost = true;
}

} // namespace quill
