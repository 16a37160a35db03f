#include "Diagnostics.h"

#include "platform/AppInfo.h"

namespace quill {
namespace {

QString line(const QString& item, const QString& state, const QString& advice = {}) {
    return advice.isEmpty() ? item + QStringLiteral(": ") + state
                            : item + QStringLiteral(": ") + state + QStringLiteral(" -- ") + advice;
}

const QString notAnswered = QStringLiteral("no answer in time");

QString describe(const ModelInfo& model) {
    return model.local ? model.name + QStringLiteral(" (on this computer)") : model.name;
}

// Whether the backend can answer explanations and transcriptions, by the models it lists; a
// backend that does not list them, or was not asked, is not judged here.
struct ModelVerdict {
    bool explain = true;
    bool transcribe = true;
};

ModelVerdict reportModels(const DiagnosticsInput& in, QStringList& lines) {
    ModelVerdict verdict;
    const QString item = QStringLiteral("Models");
    if (in.token != DiagnosticsInput::Token::present) {
        lines << line(item, QStringLiteral("not checked without a device token"));
        return verdict;
    }
    if (!in.modelsStatus) {
        lines << line(item, QStringLiteral("not checked: the backend did not answer"));
        return verdict;
    }
    if (*in.modelsStatus == 401 || *in.modelsStatus == 403) {
        lines << line(item, QStringLiteral("not checked: the backend refuses the device token"));
        return verdict;
    }
    if (*in.modelsStatus == 404) {
        lines << line(item, QStringLiteral("not listed by this backend (an older version); Quillpoint offers "
                                           "its built-in models"));
        return verdict;
    }
    if (*in.modelsStatus != 200 || !in.models) {
        lines << line(item, QStringLiteral("the list could not be read (HTTP %1)").arg(*in.modelsStatus));
        return verdict;
    }
    const QString restart = QStringLiteral("; the backend looks for a local model server when it starts, so "
                                           "restart it afterwards");
    if (in.models->models.isEmpty()) {
        verdict.explain = false;
        lines << line(item, QStringLiteral("none: the backend has no model to answer with"),
                      QStringLiteral("run Ollama (`ollama serve`) or a llama.cpp server (`llama-server`) on "
                                     "this computer, or set an upstream for the backend (OPENAI_API_KEY, or "
                                     "OPENAI_BASE_URL for another OpenAI-compatible service; see "
                                     "backend/README.md)") +
                          restart);
    } else {
        QStringList names;
        for (const ModelInfo& model : in.models->models)
            names << describe(model);
        lines << line(item, names.join(QStringLiteral(", ")));
    }
    if (in.models->transcription) {
        lines << line(QStringLiteral("Speech model"), describe(*in.models->transcription));
    } else {
        verdict.transcribe = false;
        lines << line(QStringLiteral("Speech model"), QStringLiteral("none: the backend cannot transcribe"),
                      QStringLiteral("set TRANSCRIBE_BASE_URL for the backend (a whisper.cpp server or an "
                                     "OpenAI-compatible speech service; see backend/README.md), or "
                                     "OPENAI_API_KEY"));
    }
    return verdict;
}

} // namespace

DiagnosticsReport buildDiagnosticsReport(const DiagnosticsInput& in) {
    DiagnosticsReport report;
    const SessionFacts& s = in.session;
    const bool x11 = s.x11.connected;
    const bool wayland = !in.waylandDisplay.isEmpty();
    // In a Wayland session, XWayland hosts our windows only: key grabs, XTEST and the active
    // window reach X11 windows alone, so shortcuts and keystrokes go through the portal.
    const bool waylandSession = wayland && (s.wayland.connected || !x11);
    const bool waylandKeys = waylandSession && (s.bus.remoteDesktopPortal || s.wayland.virtualKeyboard);
    const bool sway = waylandSession && s.sway.ipc;
    // As the program chooses: in sway the compositor's virtual keyboard before any portal.
    const bool virtualKeyboard = s.wayland.virtualKeyboard && (sway || !s.bus.remoteDesktopPortal);
    const bool keystrokes = waylandSession ? waylandKeys : x11 && s.x11.xtest;

    QString displayState;
    if (wayland && x11)
        displayState =
            QStringLiteral("Wayland (%1) with XWayland (DISPLAY=%2)").arg(in.waylandDisplay, in.display);
    else if (wayland)
        displayState = QStringLiteral("Wayland (%1), no XWayland").arg(in.waylandDisplay);
    else if (x11)
        displayState = QStringLiteral("X11 (DISPLAY=%1)").arg(in.display);
    if (displayState.isEmpty())
        report.lines << line(QStringLiteral("Display"),
                             in.display.isEmpty() ? QStringLiteral("none")
                             : s.x11.answered
                                 ? QStringLiteral("no X server at DISPLAY=%1").arg(in.display)
                                 : QStringLiteral("X server at DISPLAY=%1 did not answer").arg(in.display),
                             QStringLiteral("run Quillpoint inside a desktop session"));
    else
        report.lines << line(QStringLiteral("Display"), displayState);

    const QString bindAdvice =
        QStringLiteral("bind `quillpoint --explain` and `quillpoint --transcribe` to keys in "
                       "your desktop's keyboard settings");
    if (!waylandSession && x11 && !s.x11.grabs.isEmpty()) {
        QStringList parts;
        bool anyTaken = false;
        for (qsizetype i = 0; i < s.x11.grabs.size(); ++i) {
            const QString name = i < in.shortcutNames.size() ? in.shortcutNames.at(i) : QString();
            const QString key = i < in.shortcutKeys.size() ? in.shortcutKeys.at(i) : QString();
            QString state;
            switch (s.x11.grabs.at(i).second) {
            case KeyGrabber::GrabResult::grabbed:
                state = QStringLiteral("free");
                break;
            case KeyGrabber::GrabResult::taken:
                anyTaken = !s.bus.quillpointRunning;
                state = s.bus.quillpointRunning ? QStringLiteral("held by the running Quillpoint")
                                                : QStringLiteral("taken by another program");
                break;
            case KeyGrabber::GrabResult::noSuchKey:
                anyTaken = true;
                state = QStringLiteral("no such key on this keyboard");
                break;
            case KeyGrabber::GrabResult::refused:
                anyTaken = true;
                state = QStringLiteral("refused by the desktop");
                break;
            case KeyGrabber::GrabResult::unwatched:
                anyTaken = true;
                state = QStringLiteral("the keyboard cannot be watched");
                break;
            }
            parts << QStringLiteral("%1 %2 %3").arg(name, key, state);
        }
        report.lines << line(QStringLiteral("Global shortcuts"),
                             QStringLiteral("X11 key grabs: ") + parts.join(QStringLiteral(", ")),
                             anyTaken ? QStringLiteral("choose other keys in Preferences, or ") + bindAdvice
                                      : QString());
    } else if (sway) {
        QStringList parts;
        bool anyTaken = false;
        for (qsizetype i = 0; i < s.sway.bindings.size(); ++i) {
            const QString name = i < in.shortcutNames.size() ? in.shortcutNames.at(i) : QString();
            const QString key = i < in.shortcutKeys.size() ? in.shortcutKeys.at(i) : QString();
            const bool taken = s.sway.bindings.at(i).second == KeyGrabber::GrabResult::taken;
            anyTaken = anyTaken || taken;
            parts << QStringLiteral("%1 %2 %3")
                         .arg(name, key,
                              taken ? QStringLiteral("bound in sway's configuration")
                                    : QStringLiteral("free"));
        }
        report.lines << line(QStringLiteral("Global shortcuts"),
                             QStringLiteral("sway bindings that Quillpoint makes while it runs: ") +
                                 parts.join(QStringLiteral(", ")),
                             anyTaken ? QStringLiteral("choose other keys in Preferences, or take the "
                                                       "binding out of sway's configuration")
                                      : QString());
    } else if (waylandSession && s.bus.globalShortcutsPortal) {
        report.lines << line(QStringLiteral("Global shortcuts"),
                             QStringLiteral("through the desktop's GlobalShortcuts portal; the desktop may "
                                            "ask to confirm them and changes them in its shortcut settings"));
    } else if (waylandSession && s.bus.gnomeShell) {
        QStringList parts;
        bool anyTaken = false;
        for (qsizetype i = 0; i < in.shortcutNames.size(); ++i) {
            const QString key = i < in.shortcutKeys.size() ? in.shortcutKeys.at(i) : QString();
            const auto elsewhere =
                i < s.bus.gnomeBoundElsewhere.size() ? s.bus.gnomeBoundElsewhere.at(i) : std::nullopt;
            anyTaken = anyTaken || elsewhere.has_value();
            parts << QStringLiteral("%1 %2 %3")
                         .arg(in.shortcutNames.at(i), key,
                              elsewhere ? QStringLiteral("bound to \"%1\" in GNOME").arg(*elsewhere)
                                        : QStringLiteral("free"));
        }
        report.lines << line(
            QStringLiteral("Global shortcuts"),
            QStringLiteral("GNOME custom key bindings, put in GNOME's keyboard settings while "
                           "Quillpoint runs (no key release: hold to talk is off): ") +
                parts.join(QStringLiteral(", ")),
            anyTaken ? QStringLiteral("choose other keys in Preferences") : QString());
    } else if (s.bus.globalShortcutsPortal) {
        report.lines << line(
            QStringLiteral("Global shortcuts"),
            QStringLiteral("the GlobalShortcuts portal is offered, Quillpoint uses it in Wayland sessions"),
            bindAdvice);
    } else {
        report.lines << line(QStringLiteral("Global shortcuts"), QStringLiteral("none in this session"),
                             bindAdvice);
    }

    const bool accessibilityBus = s.bus.accessibilityEnabled.has_value();
    if (!s.bus.answered)
        report.lines << line(QStringLiteral("Accessibility bus"), notAnswered);
    else if (!accessibilityBus)
        report.lines << line(QStringLiteral("Accessibility bus"), QStringLiteral("missing"),
                             keystrokes ? QStringLiteral("selections are read by a synthetic copy instead; "
                                                         "install and start at-spi2-core for direct reads")
                                        : QStringLiteral("install and start at-spi2-core (the AT-SPI bus)"));
    else if (!*s.bus.accessibilityEnabled)
        report.lines << line(
            QStringLiteral("Accessibility bus"), QStringLiteral("running, switched off"),
            QStringLiteral("turn on assistive technologies in the desktop's accessibility "
                           "settings; Qt programs are readable only if it was on when they started"));
    else
        report.lines << line(QStringLiteral("Accessibility bus"), QStringLiteral("running, enabled"));

    if (waylandKeys && !virtualKeyboard && s.bus.gnomeShell)
        report.lines << line(
            QStringLiteral("Keystrokes"),
            QStringLiteral("through the desktop's RemoteDesktop portal (keyboard only); GNOME "
                           "asks to allow it at the first paste of each session"));
    else if (waylandKeys && !virtualKeyboard)
        report.lines << line(QStringLiteral("Keystrokes"),
                             QStringLiteral("through the desktop's RemoteDesktop portal (keyboard only); the "
                                            "desktop may ask once to allow it"));
    else if (waylandKeys)
        report.lines << line(QStringLiteral("Keystrokes"),
                             QStringLiteral("through a virtual keyboard of the compositor (US layout)"));
    else if (waylandSession)
        report.lines << line(QStringLiteral("Keystrokes"), QStringLiteral("none in this Wayland session"),
                             QStringLiteral("transcripts cannot be pasted; Quillpoint needs the desktop "
                                            "portal's RemoteDesktop interface (KDE Plasma)"));
    else if (x11)
        report.lines << (s.x11.xtest ? line(QStringLiteral("XTEST"), QStringLiteral("available"))
                                     : line(QStringLiteral("XTEST"), QStringLiteral("missing"),
                                            QStringLiteral("the X server must offer the XTEST extension to "
                                                           "copy and paste for Quillpoint")));
    else
        report.lines << line(
            QStringLiteral("XTEST"), QStringLiteral("not available without X11"),
            QStringLiteral("transcripts cannot be pasted; Quillpoint needs an X11 or XWayland "
                           "session for synthetic keys"));

    if (waylandSession && s.wayland.dataControl)
        report.lines << line(QStringLiteral("Clipboard"),
                             QStringLiteral("Wayland data-control (read and set without focus)"));
    else if (waylandSession && x11 && s.bus.gnomeShell)
        report.lines << line(QStringLiteral("Clipboard"),
                             QStringLiteral("X11 CLIPBOARD through XWayland; GNOME passes it to Wayland "
                                            "windows (read and set without focus)"));
    else if (waylandSession)
        report.lines << line(QStringLiteral("Clipboard"),
                             QStringLiteral("Wayland (only while a Quillpoint window has focus)"));
    else if (x11)
        report.lines << line(
            QStringLiteral("Clipboard"),
            QStringLiteral("X11 CLIPBOARD selection (%1)")
                .arg(s.x11.clipboardOwned ? QStringLiteral("has an owner") : QStringLiteral("empty")));
    else
        report.lines << line(QStringLiteral("Clipboard"), QStringLiteral("none"));

    if (waylandSession)
        report.lines << line(QStringLiteral("Panel"),
                             !x11   ? QStringLiteral("a Wayland window, placed by the compositor")
                             : sway ? QStringLiteral("an XWayland window that sway does not manage (it never "
                                                     "takes the focus), over the focused window")
                             : s.wayland.kwinScripting
                                 ? QStringLiteral("an XWayland window beside the pointer, whose "
                                                  "position KWin reports")
                                 : QStringLiteral("an XWayland window at the top centre of the main "
                                                  "screen (Wayland hides the pointer's position)"));

    bool keyringUsable = true;
    if (!s.keyring.answered) {
        keyringUsable = false;
        report.lines << line(
            QStringLiteral("Keyring"), notAnswered,
            QStringLiteral("the Secret Service does not respond; restart gnome-keyring-daemon "
                           "or your keyring"));
    } else if (!s.keyring.serviceRunning) {
        report.lines << line(
            QStringLiteral("Keyring"),
            QStringLiteral("missing (no Secret Service); tokens go to the file fallback %1")
                .arg(in.secretsFile),
            QStringLiteral("install and start gnome-keyring or KeePassXC's Secret Service to keep "
                           "the token encrypted"));
    } else if (s.keyring.locked.value_or(false)) {
        keyringUsable = false;
        report.lines << line(
            QStringLiteral("Keyring"), QStringLiteral("Secret Service running, login keyring locked"),
            QStringLiteral("unlock the login keyring (for example in Seahorse, \"Passwords and Keys\")"));
    } else if (!s.keyring.locked) {
        report.lines << line(QStringLiteral("Keyring"),
                             QStringLiteral("Secret Service running, no default keyring"),
                             QStringLiteral("create a default keyring; Quillpoint stores its token there"));
    } else {
        report.lines << line(QStringLiteral("Keyring"), QStringLiteral("Secret Service running, unlocked"));
    }
    if (in.token == DiagnosticsInput::Token::unreadable)
        keyringUsable = false;

    bool soundUsable = false;
    if (!s.sound.answered) {
        report.lines << line(QStringLiteral("Sound server"), notAnswered,
                             QStringLiteral("PulseAudio or PipeWire does not respond; restart it"));
    } else if (!s.sound.serverRunning) {
        report.lines << line(
            QStringLiteral("Sound server"), QStringLiteral("missing"),
            QStringLiteral("start PulseAudio or PipeWire (pipewire-pulse); `pactl info` must answer"));
    } else if (s.sound.defaultSource.isEmpty() || !s.sound.defaultSourceExists) {
        report.lines << line(QStringLiteral("Sound server"),
                             QStringLiteral("%1, no default source").arg(s.sound.serverName),
                             QStringLiteral("connect a microphone and make it the default input"));
    } else if (s.sound.defaultSourceIsMonitor) {
        report.lines << line(
            QStringLiteral("Sound server"),
            QStringLiteral("%1, default source %2 is a monitor of an output")
                .arg(s.sound.serverName, s.sound.defaultSource),
            QStringLiteral("make a microphone the default input (pactl set-default-source NAME)"));
    } else {
        soundUsable = true;
        report.lines << line(
            QStringLiteral("Sound server"),
            QStringLiteral("%1, default source %2").arg(s.sound.serverName, s.sound.defaultSource));
    }

    report.lines << line(QStringLiteral("Backend address"), in.backendAddress);
    const bool healthy = in.healthStatus == 200;
    if (healthy)
        report.lines << line(QStringLiteral("Backend /health"), QStringLiteral("answers"));
    else
        report.lines << line(QStringLiteral("Backend /health"),
                             in.healthStatus ? QStringLiteral("HTTP %1").arg(*in.healthStatus)
                                             : QStringLiteral("no answer (%1)").arg(in.healthError),
                             QStringLiteral("start the backend or set quillpoint_api_base_url_override in "
                                            "~/.config/Quillpoint/Quillpoint.conf"));

    bool authorised = false;
    switch (in.token) {
    case DiagnosticsInput::Token::none:
        authorised = true;
        report.lines << line(QStringLiteral("Sign-in"),
                             QStringLiteral("no device token yet; Quillpoint makes one when it starts"));
        break;
    case DiagnosticsInput::Token::unreadable:
        report.lines << line(QStringLiteral("Sign-in"), QStringLiteral("the device token cannot be read"),
                             QStringLiteral("see the keyring line"));
        break;
    case DiagnosticsInput::Token::present:
        if (!in.authStatus) {
            report.lines << line(QStringLiteral("Sign-in"),
                                 QStringLiteral("not checked: the backend did not answer"));
        } else if (*in.authStatus == 401 || *in.authStatus == 403) {
            report.lines << line(
                QStringLiteral("Sign-in"),
                QStringLiteral("the backend refuses the device token (HTTP %1)").arg(*in.authStatus),
                QStringLiteral("sign out and in again in Preferences, Account"));
        } else {
            authorised = true;
            report.lines << line(QStringLiteral("Sign-in"),
                                 QStringLiteral("the backend accepts the device token"));
        }
        break;
    }

    const ModelVerdict models = reportModels(in, report.lines);

    if (s.bus.foreignNameOwner) {
        const QString owner = s.bus.foreignNameOwnerCommand.isEmpty()
                                  ? QStringLiteral("process %1").arg(*s.bus.foreignNameOwner)
                                  : QStringLiteral("%1 (process %2)")
                                        .arg(s.bus.foreignNameOwnerCommand)
                                        .arg(*s.bus.foreignNameOwner);
        report.lines << line(
            QStringLiteral("Session bus name"),
            QStringLiteral("%1 belongs to another program, %2").arg(bundleIdentifier(), owner),
            QStringLiteral("`quillpoint --explain` and the other actions cannot reach "
                           "Quillpoint until that program ends"));
    }

    if (s.bus.statusNotifierHost || s.x11.xembedTray)
        report.lines << line(QStringLiteral("Tray"), s.bus.statusNotifierHost
                                                         ? QStringLiteral("StatusNotifier host")
                                                         : QStringLiteral("XEmbed tray"));
    else
        report.lines << line(
            QStringLiteral("Tray"), QStringLiteral("no tray host"),
            QStringLiteral("the shortcuts work without one; on GNOME install the AppIndicator "
                           "extension (gnome-shell-extension-appindicator)"));

    report.lines << (in.autostartExists
                         ? line(QStringLiteral("Autostart entry"), in.autostartPath)
                         : line(QStringLiteral("Autostart entry"),
                                QStringLiteral("none (Quillpoint does not start at login)"),
                                QStringLiteral("turn on \"Launch at login\" in Preferences if wanted")));

    const bool backendUsable = healthy && authorised && keyringUsable;
    const bool readsSelections = accessibilityBus || keystrokes;
    report.explainWorks = backendUsable && readsSelections && models.explain;
    report.transcribeWorks = backendUsable && soundUsable && keystrokes && models.transcribe;
    const auto verdict = [](bool works) {
        return works ? QStringLiteral("can work") : QStringLiteral("cannot work");
    };
    report.lines << QStringLiteral("Result: Explain %1, Transcribe %2")
                        .arg(verdict(report.explainWorks), verdict(report.transcribeWorks));
    return report;
}

} // namespace quill
