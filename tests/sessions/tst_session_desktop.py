#!/usr/bin/python3
"""The GNOME and sway test desktops work as the desktop tests need them to.

A native Wayland GTK editor (mousepad) gets the focus; real key presses through the session's
keyboard (tests/support/session-keys) reach it: shifted characters, Ctrl+A, Ctrl+S; AT-SPI
reads its text and the saved file holds it; the editor still has the focus afterwards; a key
bound in the desktop's settings (gsd-media-keys, sway's bindsym) runs its command. On
GNOME, the remote desktop portal's consent dialog is answered as a user would
(tests/support/answer-consent) and the portal's keyboard then types into the editor too.
Run inside `scripts/test-desktop.sh run --gnome` or `--sway`.
"""

import os
import pathlib
import signal
import subprocess
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
gi.require_version("Gio", "2.0")
from gi.repository import Atspi, Gio, GLib  # noqa: E402

SUPPORT = pathlib.Path(__file__).resolve().parent.parent / "support"
SESSION = os.environ.get("QUILL_TEST_SESSION")
started = time.monotonic()


def log(message):
    print(f"[{time.monotonic() - started:6.2f} s] {message}", flush=True)


def fail(message):
    log(f"FAIL: {message}")
    sys.exit(1)


def wait_until(what, timeout, probe, interval=0.05):
    deadline = time.monotonic() + timeout
    while True:
        result = probe()
        if result:
            return result
        if time.monotonic() > deadline:
            fail(what)
        time.sleep(interval)


def wait_for(timeout, probe):
    deadline = time.monotonic() + timeout
    while not probe():
        if time.monotonic() > deadline:
            return False
        time.sleep(0.02)
    return True


def keys(*words):
    begun = time.monotonic()
    try:
        subprocess.run([str(SUPPORT / "session-keys"), *words], check=True, timeout=30)
    except (subprocess.CalledProcessError, subprocess.TimeoutExpired) as error:
        fail(f"session-keys {' '.join(words)}: {error}")
    if time.monotonic() - begun > 2:
        log(f"session-keys {' '.join(words)} took {time.monotonic() - begun:.1f} s")


def children(node):
    for index in range(node.get_child_count()):
        child = node.get_child_at_index(index)
        if child is not None:
            yield child


def find(node, predicate, depth=0):
    if predicate(node):
        return node
    if depth < 30:
        for child in children(node):
            found = find(child, predicate, depth + 1)
            if found is not None:
                return found
    return None


def has_state(node, state):
    return node.get_state_set().contains(state)


class Editor:
    """mousepad on Wayland, seen through AT-SPI."""

    def __init__(self, path):
        environment = dict(os.environ, GDK_BACKEND="wayland")
        self.process = subprocess.Popen(["mousepad", "--disable-server", str(path)], env=environment,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.frame = None
        self.view = None

    def find_view(self):
        for app in children(Atspi.get_desktop(0)):
            if app.get_process_id() == self.process.pid:
                self.frame = next((w for w in children(app) if w.get_role() == Atspi.Role.FRAME), None)
                self.view = find(app, lambda n: has_state(n, Atspi.StateType.EDITABLE)
                                 and has_state(n, Atspi.StateType.SHOWING)
                                 and "Text" in n.get_interfaces())
                return self.frame is not None and self.view is not None
        return False

    def text(self):
        return Atspi.Text.get_text(self.view, 0, -1)

    def has_focus(self):
        return has_state(self.frame, Atspi.StateType.ACTIVE) and has_state(self.view, Atspi.StateType.FOCUSED)

    def stop(self):
        self.process.send_signal(signal.SIGTERM)
        try:
            self.process.wait(timeout=5)
        except subprocess.TimeoutExpired:
            self.process.kill()


def settle(editor, send):
    """The first key presses after a focus change can be lost (mutter): send a marker until one
    arrives, so that what the test types next arrives whole."""
    for attempt in range(1, 6):
        before = editor.text()
        send()
        if wait_for(0.5, lambda: editor.text() != before):
            return attempt
    fail(f"no key press reached the editor (text: {editor.text()!r})")


class PortalKeyboard:
    """A RemoteDesktop session of the desktop portal with a keyboard, as an application asks
    for one; Start shows GNOME's consent dialog."""

    def __init__(self):
        self.bus = Gio.bus_get_sync(Gio.BusType.SESSION)
        self.sender = self.bus.get_unique_name()[1:].replace(".", "_")
        self.requests = 0
        reply = self.request("CreateSession", lambda token: GLib.Variant("(a{sv})", ({
            "handle_token": GLib.Variant("s", token),
            "session_handle_token": GLib.Variant("s", "quill_smoke")},)))
        self.session = reply["session_handle"]
        self.request("SelectDevices", lambda token: GLib.Variant("(oa{sv})", (self.session, {
            "handle_token": GLib.Variant("s", token), "types": GLib.Variant("u", 1)})))

    def request(self, method, arguments, timeout=15):
        self.requests += 1
        token = f"quill_smoke{self.requests}"
        path = f"/org/freedesktop/portal/desktop/request/{self.sender}/{token}"
        loop = GLib.MainLoop()
        answer = {}

        def on_response(_bus, _sender, _path, _interface, _signal, parameters):
            answer["response"], answer["results"] = parameters.unpack()
            loop.quit()

        subscription = self.bus.signal_subscribe("org.freedesktop.portal.Desktop", "org.freedesktop.portal.Request",
                                                 "Response", path, None, Gio.DBusSignalFlags.NONE, on_response)
        self.bus.call_sync("org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop",
                           "org.freedesktop.portal.RemoteDesktop", method, arguments(token), None,
                           Gio.DBusCallFlags.NONE, -1, None)
        timer = GLib.timeout_add_seconds(timeout, loop.quit)
        loop.run()
        if "response" in answer:
            GLib.source_remove(timer)
        self.bus.signal_unsubscribe(subscription)
        if answer.get("response") != 0:
            fail(f"the portal's {method} answered {answer.get('response', 'nothing')}")
        return answer["results"]

    def start(self):
        return self.request("Start", lambda token: GLib.Variant("(osa{sv})", (self.session, "", {
            "handle_token": GLib.Variant("s", token)})))

    def type(self, char):
        for pressed in (1, 0):
            self.bus.call_sync("org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop",
                               "org.freedesktop.portal.RemoteDesktop", "NotifyKeyboardKeysym",
                               GLib.Variant("(oa{sv}iu)", (self.session, {}, ord(char), pressed)), None,
                               Gio.DBusCallFlags.NONE, -1, None)


def check_session_parts():
    bus = Gio.bus_get_sync(Gio.BusType.SESSION)
    names = ["org.a11y.Bus", "org.freedesktop.secrets"]
    if SESSION == "gnome":
        names += ["org.gnome.Shell", "org.gnome.SettingsDaemon.MediaKeys", "org.freedesktop.portal.Desktop",
                  "org.freedesktop.impl.portal.desktop.gnome", "org.freedesktop.impl.portal.desktop.gtk"]
    for name in names:
        owned = bus.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner",
                              GLib.Variant("(s)", (name,)), None, Gio.DBusCallFlags.NONE, -1, None).unpack()[0]
        if not owned:
            fail(f"nobody owns {name} on the session bus")
    if SESSION == "sway":
        subprocess.run(["swaymsg", "-t", "get_version"], check=True, stdout=subprocess.DEVNULL)
    source = subprocess.run(["pactl", "get-default-source"], check=True, capture_output=True, text=True).stdout
    if source.strip() != "quill_mic" or not pathlib.Path(os.environ["QUILL_TEST_MIC_FIFO"]).is_fifo():
        fail(f"the microphone is not the test's pipe (default source {source.strip()!r})")
    subprocess.run(["xdpyinfo"], check=True, stdout=subprocess.DEVNULL)
    log("the session's buses, services, sound server and XWayland answer")


def bind(key, command):
    """Binds a key to a command as a user's desktop settings do: a GNOME custom key binding
    (served by gsd-media-keys) or a sway binding made at run time."""
    if SESSION == "sway":
        subprocess.run(["swaymsg", f"bindsym {key} exec {command}"], check=True, stdout=subprocess.DEVNULL)
        return
    schema = "org.gnome.settings-daemon.plugins.media-keys"
    path = "/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/smoke/"
    for setting, value in (("name", "'smoke'"), ("command", repr(command)), ("binding", repr(key))):
        subprocess.run(["gsettings", "set", f"{schema}.custom-keybinding:{path}", setting, value], check=True)
    subprocess.run(["gsettings", "set", schema, "custom-keybindings", repr([path])], check=True)


def check_binding():
    """A key bound in the desktop's settings runs its command when a user presses it."""
    drop = pathlib.Path(os.environ["QUILL_TEST_DESKTOP_ROOT"]) / "bound"
    drop.mkdir()
    drop.chmod(0o1777)  # sway runs its commands as its own user
    marker = drop / "pressed"
    bind("<Control>9" if SESSION == "gnome" else "Ctrl+9", f"touch {marker}")

    def press():
        keys("key", "ctrl+9")
        return wait_for(0.5, marker.exists)

    # gsd-media-keys takes a moment to grab a binding it has just been given.
    wait_until("the bound key did not run its command", 5, press, 0)
    log("a key bound in the desktop's settings runs its command")


def main():
    if SESSION not in ("gnome", "sway"):
        fail("run inside scripts/test-desktop.sh run --gnome or --sway")
    check_session_parts()
    document = pathlib.Path(os.environ["QUILL_TEST_DESKTOP_ROOT"]) / "smoke.txt"
    document.write_text("draft")

    editor = Editor(document)
    try:
        wait_until("mousepad did not show its text over AT-SPI", 15, editor.find_view, 0.1)
        log(f"mousepad is up ({SESSION})")
        if not editor.has_focus():
            # mutter does not focus a new window that no user action started; a user clicks
            # it or switches to it.
            def switch_to_editor():
                keys("key", "alt+tab")
                return wait_for(0.5, editor.has_focus)

            wait_until("the editor did not get the focus", 5, switch_to_editor, 0)
        log("the editor has the focus")
        tries = settle(editor, lambda: keys("key", "End", "x"))
        log(f"key presses arrive (after {tries} marker(s))")

        expected = "Hello, Wayland! (1+2=3) ~ok?"
        keys("key", "ctrl+a")
        keys("type", expected)
        wait_until(f"typing over the selection did not give {expected!r} (text: {editor.text()!r})", 3,
                   lambda: editor.text() == expected)
        log("Ctrl+A and the typed text arrived")
        keys("key", "ctrl+s")
        wait_until(f"Ctrl+S did not save {expected!r}", 5, lambda: document.read_text().rstrip("\n") == expected)
        log("Ctrl+S saved the file")
        if not editor.has_focus():
            fail("the editor lost the focus")
        check_binding()

        if SESSION == "gnome":
            portal = PortalKeyboard()
            answer = subprocess.Popen([str(SUPPORT / "answer-consent")])
            devices = portal.start().get("devices", 0)
            if answer.wait(timeout=15) != 0:
                fail("the consent dialog was not answered")
            if not devices & 1:
                fail(f"the portal granted no keyboard (devices {devices})")
            log("the consent dialog was answered: the portal granted a keyboard")
            wait_until("the editor did not get the focus back after the dialog", 5, editor.has_focus)
            tries = settle(editor, lambda: portal.type("z"))
            if not editor.text().endswith("z"):
                fail(f"the portal's keyboard typed something else (text: {editor.text()!r})")
            log(f"the portal's keyboard types into the editor (after {tries} marker(s))")
    finally:
        editor.stop()
    log("PASS")


if __name__ == "__main__":
    main()
