#pragma once

#include "PipeWriter.h"
#include "platform/Clipboard.h"
#include "wlr-data-control-unstable-v1-client-protocol.h"

#include <wayland-client.h>

namespace quill {

// Holds the clipboard of a Wayland seat through wlr data-control with contents of its own, and
// serves them until another client sets the clipboard, the seat goes or the compositor does.
// Its Wayland objects live on the calling thread; readers are served by the writer's thread, so
// no reader holds up another or the compositor.
class DataControlKeeper {
public:
    explicit DataControlKeeper(QList<ClipboardFormat> formats);
    ~DataControlKeeper();
    DataControlKeeper(const DataControlKeeper&) = delete;
    DataControlKeeper& operator=(const DataControlKeeper&) = delete;

    // Connects to the compositor at WAYLAND_DISPLAY and makes the contents the clipboard. False
    // when no compositor answers in time, it offers no data-control, or the clipboard was taken
    // from us at once.
    bool take();
    // Serves the contents until they are replaced or the compositor is gone, then lets the
    // transfers under way end (each is bounded by the writer).
    void serve();

private:
    static void global(void* data, wl_registry* registry, uint32_t name, const char* interface,
                       uint32_t version);
    static void globalRemove(void*, wl_registry*, uint32_t) {}
    static void dataOffer(void*, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1*) {}
    static void selection(void* data, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* offer);
    static void finished(void* data, zwlr_data_control_device_v1*);
    static void primarySelection(void*, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1*) {}
    static void send(void* data, zwlr_data_control_source_v1*, const char* mimeType, int32_t fd);
    static void cancelled(void* data, zwlr_data_control_source_v1*);

    static constexpr wl_registry_listener kRegistryListener{&global, &globalRemove};
    static constexpr zwlr_data_control_device_v1_listener kDeviceListener{&dataOffer, &selection, &finished,
                                                                          &primarySelection};
    static constexpr zwlr_data_control_source_v1_listener kSourceListener{&send, &cancelled};

    const QList<ClipboardFormat> m_formats;
    // The formats' names as the protocol spells them, made once, so that matching a reader's
    // request allocates nothing: nothing may throw out of a Wayland callback.
    QList<QByteArray> m_types;
    wl_display* m_display = nullptr;
    wl_registry* m_registry = nullptr;
    wl_seat* m_seat = nullptr;
    zwlr_data_control_manager_v1* m_manager = nullptr;
    zwlr_data_control_device_v1* m_device = nullptr;
    zwlr_data_control_source_v1* m_source = nullptr;
    zwlr_data_control_offer_v1* m_offer = nullptr;
    bool m_lost = false;
    wayland::PipeWriter m_writer;
};

} // namespace quill
