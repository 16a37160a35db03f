#pragma once

#include "SwayIpcConnection.h"
#include "platform/KeyGrabber.h"

#include <QHash>
#include <QObject>
#include <memory>
#include <optional>
#include <unordered_set>
#include <vector>

namespace quill {

// Global shortcuts in sway: each grabbed combination becomes two bindings made at run time
// through sway's IPC (`bindcode`, one for the press and one `--release`), whose command does
// nothing (`nop`) but names the shortcut; sway reports every binding it runs as a "binding"
// event, which is how the press and the release reach us. The bindings go again at ungrab and
// when the grabber ends. A combination that the user's configuration binds is reported as
// taken and left alone, since a run-time binding would replace the user's. Until sway has
// answered with its configuration, grabs wait and a taken one is reported later; the same
// happens after the user reloads sway's configuration, which drops every run-time binding.
class SwayKeyGrabber final : public QObject, public KeyGrabber {
    Q_OBJECT
public:
    explicit SwayKeyGrabber(std::unique_ptr<SwayIpcConnection> ipc, QObject* parent = nullptr);
    ~SwayKeyGrabber() override;

    bool install(PressHandler onPress, ReleaseHandler onRelease) override;
    GrabResult grab(const KeyCombination& combination) override;
    void ungrab(const KeyCombination& combination) override;
    void setRefusalHandler(const RefusalHandler& handler) override { m_onRefusal = handler; }

    // The command sway runs for a press of `combination` (and, with `release`, its release).
    static QString bindingCommand(const KeyCombination& combination, bool release);

private:
    void onConfig(const QJsonDocument& reply);
    void onReload();
    void bind(const KeyCombination& combination);
    void onEvent(quint32 type, const QJsonObject& event);
    void refuse(const KeyCombination& combination, GrabResult result);
    bool takenByUser(const KeyCombination& combination) const;

    std::unique_ptr<SwayIpcConnection> m_ipc;
    PressHandler m_onPress;
    ReleaseHandler m_onRelease;
    RefusalHandler m_onRefusal;
    // None until sway has sent its configuration.
    std::optional<std::vector<KeyCombination>> m_userBindings;
    std::unordered_set<KeyCombination> m_grabbed;
    std::vector<KeyCombination> m_waiting;
    std::unordered_set<KeyCombination> m_held;
};

} // namespace quill
