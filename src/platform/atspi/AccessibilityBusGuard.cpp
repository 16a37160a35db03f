#include "AccessibilityBusGuard.h"

#include "platform/Log.h"

#include <QAccessible>
#include <cstdlib>
#include <dbus/dbus.h>
#include <future>
#include <memory>
#include <thread>

namespace quill {
namespace {

constexpr char kAddressVariable[] = "AT_SPI_BUS_ADDRESS";
// Not a socket: connecting fails at once.
constexpr char kUnreachable[] = "unix:path=/dev/null";

struct ConnectionCloser {
    void operator()(DBusConnection* connection) const {
        dbus_connection_close(connection);
        dbus_connection_unref(connection);
    }
};
using Connection = std::unique_ptr<DBusConnection, ConnectionCloser>;

struct MessageUnref {
    void operator()(DBusMessage* message) const { dbus_message_unref(message); }
};
using Message = std::unique_ptr<DBusMessage, MessageUnref>;

class Error {
public:
    Error() { dbus_error_init(&m_error); }
    ~Error() { dbus_error_free(&m_error); }
    Error(const Error&) = delete;
    Error& operator=(const Error&) = delete;
    DBusError* operator&() { return &m_error; }
    bool isSet() const { return dbus_error_is_set(&m_error); }
    bool is(const char* name) const { return dbus_error_has_name(&m_error, name); }
    QString message() const { return QString::fromUtf8(m_error.message ? m_error.message : ""); }

private:
    DBusError m_error;
};

int remainingMs(std::chrono::steady_clock::time_point deadline) {
    using namespace std::chrono;
    return int(std::max<qint64>(1, duration_cast<milliseconds>(deadline - steady_clock::now()).count()));
}

enum class Answer { address, noBus, silent };

// The bus's address from its launcher on the session bus.
Answer askLauncher(std::chrono::steady_clock::time_point deadline, QByteArray& address) {
    Error error;
    const Connection session(dbus_bus_get_private(DBUS_BUS_SESSION, &error));
    if (!session)
        return Answer::noBus;
    dbus_connection_set_exit_on_disconnect(session.get(), FALSE);
    const Message call(
        dbus_message_new_method_call("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress"));
    // Asked as Qt's bridge asks: a launcher that is not running is not started for it.
    dbus_message_set_auto_start(call.get(), FALSE);
    const Message reply(
        dbus_connection_send_with_reply_and_block(session.get(), call.get(), remainingMs(deadline), &error));
    if (!reply)
        return error.is(DBUS_ERROR_NO_REPLY) || error.is(DBUS_ERROR_TIMEOUT) ? Answer::silent : Answer::noBus;
    const char* text = nullptr;
    if (!dbus_message_get_args(reply.get(), &error, DBUS_TYPE_STRING, &text, DBUS_TYPE_INVALID) || !text)
        return Answer::noBus;
    address = text;
    return Answer::address;
}

// Whether the bus itself answers its Hello.
bool busAnswers(const QByteArray& address, std::chrono::steady_clock::time_point deadline) {
    Error error;
    const Connection bus(dbus_connection_open_private(address.constData(), &error));
    if (!bus)
        return true; // refused at once: no wait to fear
    dbus_connection_set_exit_on_disconnect(bus.get(), FALSE);
    const Message hello(
        dbus_message_new_method_call(DBUS_SERVICE_DBUS, DBUS_PATH_DBUS, DBUS_INTERFACE_DBUS, "Hello"));
    const Message reply(
        dbus_connection_send_with_reply_and_block(bus.get(), hello.get(), remainingMs(deadline), &error));
    return reply || !(error.is(DBUS_ERROR_NO_REPLY) || error.is(DBUS_ERROR_TIMEOUT));
}

// Whether the bus answers, or there is none to wait for.
bool probe(const std::optional<QByteArray>& configured, std::chrono::steady_clock::time_point deadline) {
    QByteArray address = configured.value_or(QByteArray());
    if (!configured) {
        switch (askLauncher(deadline, address)) {
        case Answer::noBus:
            return true;
        case Answer::silent:
            return false;
        case Answer::address:
            break;
        }
    }
    return busAnswers(address, deadline);
}

} // namespace

AccessibilityBusGuard::AccessibilityBusGuard(std::chrono::milliseconds budget) : m_budget(budget) {
    if (const char* set = std::getenv(kAddressVariable); set && *set)
        m_original = QByteArray(set);
    // Set before the probe's thread starts, as adding a variable may move the environment;
    // putting the first value back later only replaces or removes an entry.
    ::setenv(kAddressVariable, kUnreachable, 1);
    // libdbus waits without an end while it authenticates: the probe runs on a thread of its own,
    // left behind when it does not finish in time.
    auto outcome = std::make_shared<std::promise<bool>>();
    std::future<bool> answered = outcome->get_future();
    std::thread([outcome, configured = m_original, deadline = std::chrono::steady_clock::now() + budget] {
        outcome->set_value(probe(configured, deadline));
    }).detach();
    m_answered = answered.wait_for(budget) == std::future_status::ready && answered.get();
    if (m_answered)
        restore();
}

void AccessibilityBusGuard::restore() {
    if (m_original)
        ::setenv(kAddressVariable, m_original->constData(), 1);
    else
        ::unsetenv(kAddressVariable);
}

void AccessibilityBusGuard::release() {
    if (m_answered)
        return;
    logLine(lcPlatform(), QStringLiteral("AccessibilityBusGuard"),
            QStringLiteral("the accessibility bus does not answer within %1 ms: Quillpoint's own windows "
                           "are not shown to screen readers in this run")
                .arg(m_budget.count()));
    // Qt's bridge reads the address when it is first asked for.
    QAccessible::isActive();
    restore();
}

} // namespace quill
