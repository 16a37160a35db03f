#pragma once

#include <QString>
#include <Qt>
#include <functional>

namespace quill {

// A physical key (PhysicalKeys.h: named by what it types on a US layout, whatever the current
// layout makes it type) and the exact modifiers (Ctrl, Shift, Alt, Meta) that must be held with it.
struct KeyCombination {
    Qt::Key key = Qt::Key_unknown;
    Qt::KeyboardModifiers modifiers;
    friend bool operator==(const KeyCombination&, const KeyCombination&) = default;
};

// A system-wide keyboard hook: takes a key combination away from every application and reports
// each press of it and the release that ends the press. A key held down is one press however
// long the keyboard repeats it. Both are reported on the main thread, from inside the window
// system's event dispatch, so the receiver must only note them and defer any real work.
class KeyGrabber {
public:
    enum class GrabResult {
        grabbed,
        taken,     // another client holds the combination; nothing of it stays grabbed
        noSuchKey, // `key` is no physical key this grabber knows, or the keyboard lacks it
        refused,   // the desktop answered that it gives this program no such shortcut
        unwatched  // the grabber cannot watch the keyboard: no display connection, or not installed
    };
    using PressHandler = std::function<void(const KeyCombination&)>;
    using ReleaseHandler = std::function<void(const KeyCombination&)>;
    using RefusalHandler = std::function<void(const KeyCombination&, GrabResult)>;

    virtual ~KeyGrabber() = default;
    // Starts watching the keyboard; false when this session offers no way to do so.
    virtual bool install(PressHandler onPress, ReleaseHandler onRelease) = 0;
    virtual GrabResult grab(const KeyCombination& combination) = 0;
    virtual void ungrab(const KeyCombination& combination) = 0;

    // A grabber that asks the desktop (the GlobalShortcuts portal) learns the outcome only later:
    // its grab() answers `grabbed` at once and a refusal arrives here, on the main thread. A
    // grabber that loses a combination it held (after a keyboard change) reports it here too.
    virtual void setRefusalHandler(const RefusalHandler& /*handler*/) {}
    // What a combination is for, in the user's words, for desktops that list the shortcuts they
    // hand out; called before grab().
    virtual void describe(const KeyCombination&, const QString&) {}
    // False where the desktop runs a command on a key press and says nothing of its release, so
    // that a key cannot be held to talk.
    virtual bool reportsRelease() const { return true; }
    // Where the user sees and changes the keys, when the desktop keeps them in its own settings;
    // a sentence for the preferences window, empty otherwise.
    virtual QString settingsNote() const { return {}; }
};

} // namespace quill

template <> struct std::hash<quill::KeyCombination> {
    size_t operator()(const quill::KeyCombination& c) const noexcept {
        return std::hash<quint64>{}((quint64(c.key) << 32) | quint64(c.modifiers.toInt()));
    }
};
