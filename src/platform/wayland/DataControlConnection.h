#pragma once

#include "PipeWriter.h"
#include "platform/Clipboard.h"
#include "wlr-data-control-unstable-v1-client-protocol.h"

#include <QStringList>
#include <chrono>
#include <deque>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>
#include <wayland-client.h>

namespace quill {

// Our own Wayland connection to the seat's data-control device, run on a thread of its own:
// it follows the clipboard and the primary selection and serves the contents we set. Every
// Wayland object is used on that thread only; other threads hand it tasks through `call`.
class DataControlConnection {
public:
    // A task handed to the thread is a few requests; the thread never waits on the compositor,
    // so only a broken process would miss this.
    static constexpr std::chrono::seconds kCallTimeout{2};

    // What a selection holds: our own formats while we own it, else the owner's MIME types.
    struct Contents {
        std::optional<QList<ClipboardFormat>> own;
        QStringList offered;
    };

    // None when no compositor is at WAYLAND_DISPLAY or it answers that it offers no
    // data-control. A compositor still silent after a second is followed on the thread: until it
    // answers, the selections read as empty and setting one fails.
    static std::shared_ptr<DataControlConnection> open();

    DataControlConnection() = default;
    ~DataControlConnection();
    DataControlConnection(const DataControlConnection&) = delete;
    DataControlConnection& operator=(const DataControlConnection&) = delete;

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

    Contents contents(bool primary) const;
    // The read end of a pipe the selection's owner writes `mimeType` into; -1 when the
    // selection changed away or the pipe could not be made.
    int receive(bool primary, const QString& mimeType);
    // Offers exactly `formats` as the clipboard or the primary selection; none clears it.
    bool set(bool primary, const QList<ClipboardFormat>& formats);
    bool supportsPrimary() const;

    // Called on the connection's thread.
    std::function<void()> onClipboardChanged;
    std::function<void()> onOwnContentsRead;

private:
    struct Source {
        DataControlConnection* connection;
        zwlr_data_control_source_v1* source;
        QList<ClipboardFormat> formats;
        bool primary;
    };

    bool connect();
    void wake() const;
    void loop();
    void forgetOffer(zwlr_data_control_offer_v1* offer);
    void replaceOffer(bool primary, zwlr_data_control_offer_v1* offer);

    static void global(void* data, wl_registry* registry, uint32_t name, const char* interface,
                       uint32_t version);
    static void globalRemove(void*, wl_registry*, uint32_t) {}
    static void dataOffer(void* data, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* offer);
    static void selection(void* data, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* offer);
    static void primarySelection(void* data, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* offer);
    static void finished(void* data, zwlr_data_control_device_v1* device);
    static void offered(void* data, zwlr_data_control_offer_v1* offer, const char* mimeType);
    static void send(void* data, zwlr_data_control_source_v1*, const char* mimeType, int32_t fd);
    static void cancelled(void* data, zwlr_data_control_source_v1* handle);
    static void lateAnswer(void* data, wl_callback* callback, uint32_t);

    static constexpr wl_registry_listener kRegistryListener{&global, &globalRemove};
    static constexpr zwlr_data_control_device_v1_listener kDeviceListener{&dataOffer, &selection, &finished,
                                                                          &primarySelection};
    static constexpr zwlr_data_control_offer_v1_listener kOfferListener{&offered};
    static constexpr zwlr_data_control_source_v1_listener kSourceListener{&send, &cancelled};
    static constexpr wl_callback_listener kLateAnswerListener{&lateAnswer};

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

    wayland::PipeWriter m_writer;
    int m_wake = -1;
    std::thread m_thread;
    std::mutex m_mutex;
    std::deque<std::function<void()>> m_tasks;
    bool m_stop = false;
};

} // namespace quill
