#include "SessionProbe.h"

#include "AppInfo.h"
#include "InstanceGuard.h"
#include "atspi/DBusAccessibilityStatus.h"
#include "audio/PulseSessionProbe.h"
#include "gnome/GnomeKeybindingGrabber.h"
#include "sway/SwaySessionProbe.h"
#include "wayland/WaylandSessionProbe.h"
#include "x11/X11SessionProbe.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QFile>
#include <QFileInfo>
#include <QLibraryInfo>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <memory>
#include <mutex>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace quill::platform {
namespace {

constexpr int busCallTimeoutMs = 500;

QString waylandSocketPath(const QByteArray& name) {
    const QString socket = QFile::decodeName(name);
    return socket.startsWith(u'/') ? socket : qEnvironmentVariable("XDG_RUNTIME_DIR") + u'/' + socket;
}

bool waylandSocketExists(const QByteArray& name) {
    return QFileInfo::exists(waylandSocketPath(name));
}

bool waylandPluginInstalled() {
    return QFileInfo::exists(QLibraryInfo::path(QLibraryInfo::PluginsPath) +
                             QStringLiteral("/platforms/libqwayland-generic.so"));
}

QDBusMessage busCall(const QDBusConnection& bus, const QString& service, const QString& path,
                     const QString& interface, const QString& method, const QVariantList& arguments = {}) {
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, method);
    call.setArguments(arguments);
    call.setAutoStartService(false);
    return bus.call(call, QDBus::Block, busCallTimeoutMs);
}

bool nameHasOwner(const QDBusConnection& bus, const QString& name) {
    const QDBusMessage reply =
        busCall(bus, QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"), {name});
    return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
           reply.arguments().constFirst().toBool();
}

std::optional<QVariant> property(const QDBusConnection& bus, const QString& service, const QString& path,
                                 const QString& interface, const QString& name) {
    const QDBusMessage reply = busCall(bus, service, path, QStringLiteral("org.freedesktop.DBus.Properties"),
                                       QStringLiteral("Get"), {interface, name});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return std::nullopt;
    return reply.arguments().constFirst().value<QDBusVariant>().variant();
}

} // namespace

bool portalOffers(const QString& interface) {
    // Asked without starting the portal: a session that does not run one has none to offer.
    return property(QDBusConnection::sessionBus(), QStringLiteral("org.freedesktop.portal.Desktop"),
                    QStringLiteral("/org/freedesktop/portal/desktop"), interface, QStringLiteral("version"))
        .has_value();
}

namespace {

BusFacts probeBus(const QList<KeyCombination>& shortcuts, const QString& ownBusName) {
    BusFacts facts;
    const QDBusConnection bus = QDBusConnection::sessionBus();
    facts.sessionBus = bus.isConnected();
    if (facts.sessionBus) {
        if (nameHasOwner(bus, ownBusName)) {
            const QDBusMessage reply =
                busCall(bus, QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetConnectionUnixProcessID"),
                        {ownBusName});
            const std::optional<qint64> owner =
                reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()
                    ? std::optional(reply.arguments().constFirst().toLongLong())
                    : std::nullopt;
            // The instance lock says which process is Quillpoint; the name alone can be anyone's.
            const std::optional<qint64> holder =
                InstanceGuard::holderProcessId(InstanceGuard::defaultLockPath(bundleIdentifier()));
            const bool holderAlive = holder && ::kill(pid_t(*holder), 0) == 0;
            facts.quillpointRunning = !owner || (holderAlive && owner == holder);
            if (!facts.quillpointRunning) {
                facts.foreignNameOwner = owner;
                QFile command(QStringLiteral("/proc/%1/comm").arg(*owner));
                if (command.open(QIODevice::ReadOnly))
                    facts.foreignNameOwnerCommand =
                        QString::fromLocal8Bit(command.readAll().left(64)).trimmed();
            }
        }
        facts.globalShortcutsPortal = portalOffers(QStringLiteral("org.freedesktop.portal.GlobalShortcuts"));
        facts.remoteDesktopPortal = portalOffers(QStringLiteral("org.freedesktop.portal.RemoteDesktop"));
        const QString watcher = QStringLiteral("org.kde.StatusNotifierWatcher");
        facts.statusNotifierHost =
            nameHasOwner(bus, watcher) && property(bus, watcher, QStringLiteral("/StatusNotifierWatcher"),
                                                   watcher, QStringLiteral("IsStatusNotifierHostRegistered"))
                                              .value_or(false)
                                              .toBool();
        facts.gnomeShell = GnomeKeybindingGrabber::sessionOffers(bus);
        if (facts.gnomeShell) {
            for (const KeyCombination& combination : shortcuts)
                facts.gnomeBoundElsewhere.append(GnomeKeybindingGrabber::boundElsewhere(combination));
        }
        DBusAccessibilityStatus accessibility(busCallTimeoutMs);
        facts.accessibilityEnabled = accessibility.isEnabled();
    }
    facts.answered = true;
    return facts;
}

KeyringFacts probeKeyring() {
    KeyringFacts facts;
    const QDBusConnection bus = QDBusConnection::sessionBus();
    const QString service = QStringLiteral("org.freedesktop.secrets");
    facts.serviceRunning = bus.isConnected() && nameHasOwner(bus, service);
    if (facts.serviceRunning) {
        const QDBusMessage reply =
            busCall(bus, service, QStringLiteral("/org/freedesktop/secrets/aliases/default"),
                    QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
                    {QStringLiteral("org.freedesktop.Secret.Collection"), QStringLiteral("Locked")});
        // A service that holds its name but does not answer would also hang every token lookup.
        if (reply.type() == QDBusMessage::ErrorMessage &&
            (reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.NoReply") ||
             reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.Timeout")))
            return facts;
        if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty())
            facts.locked = reply.arguments().constFirst().value<QDBusVariant>().variant().toBool();
    }
    facts.answered = true;
    return facts;
}

// The probes' results, shared with their threads so that a thread left behind after the
// deadline writes into memory that is still there.
struct Shared {
    std::mutex mutex;
    std::condition_variable finished;
    int running = 0;
    SessionFacts facts;
};

template <typename Probe> void launch(const std::shared_ptr<Shared>& shared, Probe probe) {
    {
        const std::lock_guard lock(shared->mutex);
        ++shared->running;
    }
    std::thread([shared, probe = std::move(probe)] {
        auto store = probe();
        const std::lock_guard lock(shared->mutex);
        store(shared->facts);
        --shared->running;
        shared->finished.notify_all();
    }).detach();
}

} // namespace

bool waylandAnswers() {
    const QByteArray name = qgetenv("WAYLAND_DISPLAY");
    if (name.isEmpty())
        return false;
    const QByteArray path = QFile::encodeName(waylandSocketPath(name));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= qsizetype(sizeof address.sun_path))
        return false;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const bool answers = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return answers;
}

std::optional<QString> prepareDisplay() {
    const QByteArray requested = qgetenv("QT_QPA_PLATFORM");
    const QByteArray display = qgetenv("DISPLAY");
    const QByteArray wayland = qgetenv("WAYLAND_DISPLAY");
    const bool waylandUsable = !wayland.isEmpty() && waylandSocketExists(wayland) && waylandPluginInstalled();
    if (!requested.isEmpty()) {
        // A list such as "wayland;xcb" is tried in order; anything but these two needs no server.
        for (const QByteArray& name : requested.split(';')) {
            const QByteArray plugin = name.split(':').constFirst();
            if (plugin == "xcb" ? x11::canConnect(display) : plugin == "wayland" ? waylandUsable : true)
                return std::nullopt;
        }
    } else {
        // Qt would pick its Wayland plugin in a Wayland session; our windows belong on XWayland,
        // where they are placed where we ask and never take the focus.
        if (x11::canConnect(display)) {
            qputenv("QT_QPA_PLATFORM", "xcb");
            return std::nullopt;
        }
        if (waylandUsable) {
            qputenv("QT_QPA_PLATFORM", "wayland");
            return std::nullopt;
        }
    }
    if (!wayland.isEmpty() && !waylandSocketExists(wayland))
        return QStringLiteral("No Wayland compositor listens at WAYLAND_DISPLAY=%1.")
            .arg(QString::fromLocal8Bit(wayland));
    if (!wayland.isEmpty() && !waylandPluginInstalled())
        return QStringLiteral("This Wayland session (WAYLAND_DISPLAY=%1) has no XWayland, and Qt's Wayland "
                              "support is not installed (Debian: qt6-wayland).")
            .arg(QString::fromLocal8Bit(wayland));
    if (!display.isEmpty())
        return QStringLiteral("No X server answers at DISPLAY=%1.").arg(QString::fromLocal8Bit(display));
    return QStringLiteral("No desktop session: neither DISPLAY nor WAYLAND_DISPLAY is set. Start Quillpoint "
                          "from your desktop session.");
}

SessionFacts probeSession(const QList<KeyCombination>& shortcuts, const QString& ownBusName, int budgetMs) {
    auto shared = std::make_shared<Shared>();
    if (!qEnvironmentVariableIsEmpty("DISPLAY")) {
        launch(shared, [shortcuts] {
            return [facts = x11::probe(shortcuts)](SessionFacts& all) { all.x11 = facts; };
        });
    } else {
        shared->facts.x11.answered = true;
    }
    if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        launch(shared, [] { return [facts = wayland::probe()](SessionFacts& all) { all.wayland = facts; }; });
    else
        shared->facts.wayland.answered = true;
    if (!qEnvironmentVariableIsEmpty("SWAYSOCK")) {
        launch(shared, [shortcuts, budgetMs] {
            return [facts = sway::probe(shortcuts, budgetMs)](SessionFacts& all) { all.sway = facts; };
        });
    } else {
        shared->facts.sway.answered = true;
    }
    launch(shared,
           [budgetMs] { return [facts = audio::probe(budgetMs)](SessionFacts& all) { all.sound = facts; }; });
    launch(shared, [] { return [facts = probeKeyring()](SessionFacts& all) { all.keyring = facts; }; });
    launch(shared, [shortcuts, ownBusName] {
        return [facts = probeBus(shortcuts, ownBusName)](SessionFacts& all) { all.bus = facts; };
    });

    std::unique_lock lock(shared->mutex);
    shared->finished.wait_for(lock, std::chrono::milliseconds(budgetMs),
                              [&] { return shared->running == 0; });
    return shared->facts;
}

} // namespace quill::platform
