#!/usr/bin/env bash
# A private headless desktop for tests: X server, window manager, session bus, accessibility
# bus, unlocked keyring and sound server, each with its own XDG directories. Everything is
# started and stopped by process id, so any number of runs can share one machine.
#
#   scripts/test-desktop.sh run [options] -- COMMAND [ARGS...]
#       Starts a desktop, runs COMMAND inside it, tears the desktop down and exits with
#       COMMAND's status.
#   Options:
#     --wayland        a Wayland desktop instead: headless KWin with XWayland, the desktop
#                      portal with its KDE backend, and kglobalaccel
#     --gnome          headless GNOME Shell (mutter) with XWayland, gsd-media-keys, dconf and
#                      the desktop portal with its GNOME and GTK backends, in a mount namespace
#                      with a private system bus; keys through tests/support/session-keys
#     --sway           headless sway with XWayland, run as an unprivileged user (quilltest,
#                      created when missing if we are root); keys through session-keys
#     --no-pulse       do not start the sound server (tests that start it themselves)
#     --mic-fifo       make the sound server's default source a pipe the test writes
#                      16 kHz mono s16le samples into: $QUILL_TEST_MIC_FIFO
#     --keep           leave the desktop's directory behind for inspection
#
# Inside, QUILL_TEST_DESKTOP_ROOT names the desktop's directory; QUILL_TEST_SESSION is x11,
# kwin, gnome or sway; QUILL_TEST_PULSE_ARGS holds the arguments that started the sound server,
# so a test can start it again. The Wayland desktops set WAYLAND_DISPLAY and DISPLAY (XWayland);
# GNOME, KWin and sway set QUILL_TEST_KEYS, the socket of the session's keyboard, and sway SWAYSOCK.
set -euo pipefail

usage() { sed -n '2,25p' "$0" >&2; exit 2; }
[[ ${1:-} == run ]] || usage
shift
arguments=("$@")
start_pulse=1 mic_fifo=0 keep=0 session=x11
while [[ $# -gt 0 ]]; do
    case $1 in
        --wayland) session=kwin ;;
        --gnome) session=gnome ;;
        --sway) session=sway ;;
        --no-pulse) start_pulse=0 ;;
        --mic-fifo) mic_fifo=1 ;;
        --keep) keep=1 ;;
        --) shift; break ;;
        *) usage ;;
    esac
    shift
done
[[ $# -gt 0 ]] || usage

started=$EPOCHREALTIME
here=$(cd "$(dirname "$0")" && pwd)
session_keys=$here/../tests/support/session-keys

# GNOME and sway get a mount namespace of their own: a private /tmp/.X11-unix for XWayland's
# sockets (mutter refuses a directory it cannot write to) and, for GNOME, a /run/systemd with
# no logind in it. The mounts vanish with the namespace's last process. Only root can mount;
# sway run by another user uses the machine's /tmp/.X11-unix.
if [[ $session == gnome && $(id -u) -ne 0 ]]; then
    echo "test-desktop: --gnome needs root (it mounts over /tmp/.X11-unix and /run/systemd)" >&2
    exit 1
fi
if [[ ($session == gnome || $session == sway) && $(id -u) -eq 0 && -z ${QUILL_TEST_DESKTOP_NAMESPACE:-} ]]; then
    [[ -d /tmp/.X11-unix ]] || mkdir -m 1777 /tmp/.X11-unix
    QUILL_TEST_DESKTOP_NAMESPACE=1 exec unshare --mount --propagation private "$0" run "${arguments[@]}"
fi
if [[ -n ${QUILL_TEST_DESKTOP_NAMESPACE:-} ]]; then
    unset QUILL_TEST_DESKTOP_NAMESPACE
    mount -t tmpfs -o mode=1777 quill-x11-unix /tmp/.X11-unix
    if [[ $session == gnome && -d /run/systemd ]]; then
        mount -t tmpfs -o mode=755 quill-systemd /run/systemd
    fi
fi

root=$(mktemp -d "${TMPDIR:-/tmp}/quill-desktop.XXXXXX")
pids=()
log=$root/desktop.log

# shellcheck disable=SC2317 # called through the traps below
teardown() {
    local status=$?
    trap - EXIT INT TERM
    # Stopped by pid below; bash need not report how each of its background jobs ended.
    disown -a
    local i
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill -TERM "${pids[i]}" 2>/dev/null || true
    done
    for ((i = 0; i < 30; i++)); do
        local alive=0 pid
        for pid in "${pids[@]}"; do kill -0 "$pid" 2>/dev/null && alive=1; done
        [[ $alive == 0 ]] && break
        sleep 0.1
    done
    for pid in "${pids[@]}"; do
        if kill -KILL "$pid" 2>/dev/null; then echo "test-desktop: $pid did not stop when asked" >>"$log"; fi
    done
    # An X server stopped by a signal can leave its lock files in the shared /tmp.
    local lock owner
    for lock in /tmp/.X*-lock; do
        owner=$(tr -d ' \n' 2>/dev/null <"$lock") || continue
        for pid in "${pids[@]}"; do
            [[ $owner == "$pid" ]] && rm -f "$lock"
        done
    done
    if [[ $keep == 1 ]]; then
        echo "test-desktop: kept $root" >&2
    else
        rm -rf "$root"
    fi
    exit "$status"
}
trap teardown EXIT
trap 'exit 130' INT TERM

fail() {
    echo "test-desktop: $*" >&2
    [[ -f $log ]] && tail -n 30 "$log" >&2
    exit 1
}

# Waits up to $1 tenths of a second for the command after it to succeed.
wait_for() {
    local tries=$1
    shift
    while ! "$@" >/dev/null 2>&1; do
        ((tries-- > 0)) || return 1
        sleep 0.1
    done
}

mkdir -p "$root"/{run,config,data,cache,home,tmp}
chmod 700 "$root/run"
export XDG_RUNTIME_DIR=$root/run XDG_CONFIG_HOME=$root/config XDG_DATA_HOME=$root/data
export XDG_CACHE_HOME=$root/cache HOME=$root/home TMPDIR=$root/tmp
export GSETTINGS_BACKEND=memory QUILL_TEST_DESKTOP_ROOT=$root QUILL_TEST_SESSION=$session
unset WAYLAND_DISPLAY DISPLAY DBUS_SESSION_BUS_ADDRESS DBUS_SYSTEM_BUS_ADDRESS AT_SPI_BUS_ADDRESS PULSE_SERVER \
    SESSION_MANAGER NO_AT_BRIDGE XDG_CURRENT_DESKTOP XDG_SESSION_DESKTOP KDE_FULL_SESSION SWAYSOCK QUILL_TEST_KEYS \
    XAUTHORITY

start_session_bus() {
    dbus-daemon --session --fork --address="unix:path=$XDG_RUNTIME_DIR/bus" --print-pid=3 3>"$root/dbus.pid" \
        >>"$log" 2>&1 || fail "dbus-daemon did not start"
    pids+=("$(cat "$root/dbus.pid")")
    export DBUS_SESSION_BUS_ADDRESS=unix:path=$XDG_RUNTIME_DIR/bus
}

# shellcheck disable=SC2317 # called through wait_for
name_has_owner() {
    dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner "string:$1" 2>/dev/null | grep -q 'boolean true'
}

# Accessibility bus with accessibility switched on, and its registry.
start_accessibility() {
    /usr/libexec/at-spi-bus-launcher --launch-immediately --a11y=1 >>"$log" 2>&1 &
    pids+=($!)
    wait_for 100 name_has_owner org.a11y.Bus || fail "the accessibility bus did not start"
    /usr/libexec/at-spi2-registryd --use-gnome-session=false >>"$log" 2>&1 &
    pids+=($!)
}

# Keyring, unlocked with a throw-away password (an empty one would create no collection).
start_keyring() {
    printf 'quill-test' | gnome-keyring-daemon --foreground --unlock --components=secrets >>"$log" 2>&1 &
    pids+=($!)
    wait_for 100 name_has_owner org.freedesktop.secrets || fail "gnome-keyring did not start"
}

# Starts a D-Bus service itself rather than through bus activation, so that teardown stops it
# by pid, and waits for its name.
start_service() {
    local name=$1 program=$2
    shift 2
    "$program" "$@" >>"$log" 2>&1 &
    pids+=($!)
    wait_for 100 name_has_owner "$name" || fail "$(basename "$program") did not start"
}

# The session's keyboard for tests (tests/support/session-keys), one for the whole session.
start_session_keys() {
    export QUILL_TEST_KEYS=$root/keys
    /usr/bin/python3 "$session_keys" serve "$QUILL_TEST_KEYS" >>"$log" 2>&1 &
    pids+=($!)
    wait_for 100 test -S "$QUILL_TEST_KEYS" || fail "the session's keyboard did not start"
}

case $session in
x11)
    export QT_QPA_PLATFORM=xcb XDG_SESSION_TYPE=x11

    # X server on the first free display; it writes the display number to the pipe when ready.
    mkfifo "$root/displayfd"
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$root/displayfd" >>"$log" 2>&1 &
    pids+=($!)
    # Opened read-write, the pipe does not block its opening, so the timeout also covers a
    # server that never starts.
    read -r -t 15 display_number <>"$root/displayfd" || fail "Xvfb did not start"
    export DISPLAY=:$display_number
    wait_for 50 xdpyinfo || fail "X server $DISPLAY does not answer"
    start_session_bus
    ;;
kwin)
    export XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=KDE XDG_SESSION_DESKTOP=KDE KDE_SESSION_VERSION=5
    unset QT_QPA_PLATFORM
    start_session_bus

    # The packaged kwin_wayland carries a file capability, which a sandbox refuses to execute;
    # a plain copy runs. KWin loads its built-in Qt platform plugin only when the executable's
    # name is kwin_wayland, so the copy keeps that name, cached per binary content.
    kwin_source=$(command -v kwin_wayland) || fail "kwin_wayland is not installed"
    kwin_sum=$(sha256sum "$kwin_source" | cut -c1-16)
    kwin_dir=${QUILL_TEST_KWIN_CACHE:-/tmp/quill-kwin-$(id -u)}/$kwin_sum
    if [[ ! -x $kwin_dir/kwin_wayland ]]; then
        mkdir -p "$kwin_dir"
        kwin_tmp=$(mktemp "$kwin_dir/.kwin_wayland.XXXXXX")
        cp "$kwin_source" "$kwin_tmp"
        chmod 755 "$kwin_tmp"
        mv -f "$kwin_tmp" "$kwin_dir/kwin_wayland"
    fi

    # KWin runs the session script with WAYLAND_DISPLAY and XWayland's DISPLAY set, once both
    # answer; the script reports them and its own pid, then waits to be stopped.
    export WAYLAND_DISPLAY=quill-wayland-${root##*.}
    mkfifo "$root/session.fifo"
    cat >"$root/session.sh" <<'SESSION'
#!/bin/sh
printf '%s %s\n' "$$" "$DISPLAY" >"$QUILL_TEST_DESKTOP_ROOT/session.fifo"
exec sleep infinity
SESSION
    chmod +x "$root/session.sh"
    # KWin lets only clients named in a desktop file bind its fake input; the session's
    # keyboard (tests/support/session-keys) is a script without one.
    KWIN_WAYLAND_NO_PERMISSION_CHECKS=1 QT_QPA_PLATFORM=wayland-org.kde.kwin.qpa "$kwin_dir/kwin_wayland" --virtual --socket "$WAYLAND_DISPLAY" \
        --width 1280 --height 1024 --xwayland --no-lockscreen \
        --exit-with-session "$root/session.sh" >>"$log" 2>&1 &
    pids+=($!)
    read -r -t 30 session_pid session_display <>"$root/session.fifo" || fail "KWin did not start"
    pids+=("$session_pid")
    [[ -n $session_display ]] || fail "KWin started without XWayland"
    export DISPLAY=$session_display
    wait_for 50 xdpyinfo || fail "XWayland $DISPLAY does not answer"
    ;;
gnome)
    export XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=GNOME XDG_SESSION_DESKTOP=gnome
    unset QT_QPA_PLATFORM
    command -v gnome-shell >/dev/null || fail "gnome-shell is not installed"

    # A system bus of our own that lets everyone do everything and activates nothing: the
    # shell stalls without one (UPower) and must not reach the machine's.
    cat >"$root/system-bus.conf" <<SYSTEMBUS
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=$XDG_RUNTIME_DIR/system_bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
  </policy>
</busconfig>
SYSTEMBUS
    dbus-daemon --config-file="$root/system-bus.conf" --fork --print-pid=3 3>"$root/system-bus.pid" \
        >>"$log" 2>&1 || fail "the private system bus did not start"
    pids+=("$(cat "$root/system-bus.pid")")
    export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$XDG_RUNTIME_DIR/system_bus
    start_session_bus

    # Settings shared by every process (custom key bindings reach gsd-media-keys), kept in
    # this desktop's XDG_CONFIG_HOME. The screen never blanks or locks.
    export GSETTINGS_BACKEND=dconf
    start_service ca.desrt.dconf /usr/libexec/dconf-service
    gsettings set org.gnome.desktop.session idle-delay 0 >>"$log" 2>&1
    gsettings set org.gnome.desktop.screensaver lock-enabled false >>"$log" 2>&1

    # Before the shell, which would otherwise have the bus start them beyond our reach.
    start_accessibility
    start_keyring
    start_service org.freedesktop.impl.portal.PermissionStore /usr/libexec/xdg-permission-store

    export WAYLAND_DISPLAY=quill-gnome-${root##*.}
    gnome-shell --headless --wayland --virtual-monitor 1280x800 --wayland-display "$WAYLAND_DISPLAY" \
        >>"$root/gnome-shell.log" 2>&1 &
    pids+=($!)
    shell_display() { grep -m1 -o 'Using public X11 display :[0-9]*' "$root/gnome-shell.log"; }
    # shellcheck disable=SC2317 # called through wait_for
    shell_started() { grep -q 'GNOME Shell started at' "$root/gnome-shell.log"; }
    wait_for 300 shell_started || { cat "$root/gnome-shell.log" >>"$log"; fail "GNOME Shell did not start"; }
    display_line=$(shell_display) || fail "GNOME Shell started without XWayland"
    export DISPLAY=${display_line##* }
    # mutter's XWayland admits only clients with its cookie.
    xauthority=$(compgen -G "$XDG_RUNTIME_DIR/.mutter-Xwaylandauth.*") || fail "mutter wrote no XWayland cookie"
    export XAUTHORITY=${xauthority%%$'\n'*}
    wait_for 50 xdpyinfo || fail "XWayland $DISPLAY does not answer"

    # The shell opens the overview, with its search entry focused, as its start-up animation
    # ends; closing it before then does not last.
    # shellcheck disable=SC2317 # called through wait_for
    overview_is() {
        gdbus call --session --dest org.gnome.Shell --object-path /org/gnome/Shell \
            --method org.freedesktop.DBus.Properties.Get org.gnome.Shell OverviewActive 2>/dev/null | grep -q "$1"
    }
    wait_for 50 overview_is true || true
    gdbus call --session --dest org.gnome.Shell --object-path /org/gnome/Shell \
        --method org.freedesktop.DBus.Properties.Set org.gnome.Shell OverviewActive '<false>' >>"$log" 2>&1
    wait_for 50 overview_is false || fail "the overview does not close"

    # Custom key bindings are served by gsd-media-keys through the shell.
    start_service org.gnome.SettingsDaemon.MediaKeys /usr/libexec/gsd-media-keys
    start_service org.freedesktop.impl.portal.desktop.gnome /usr/libexec/xdg-desktop-portal-gnome
    start_service org.freedesktop.impl.portal.desktop.gtk /usr/libexec/xdg-desktop-portal-gtk
    start_service org.freedesktop.portal.Desktop /usr/libexec/xdg-desktop-portal
    start_session_keys
    ;;
sway)
    export XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=sway XDG_SESSION_DESKTOP=sway
    unset QT_QPA_PLATFORM
    command -v sway >/dev/null || fail "sway is not installed"
    start_session_bus

    # sway refuses to run as root. It gets a runtime directory and home of its own (the sound
    # server refuses a runtime directory that is not its user's); its Wayland socket is linked
    # into the desktop's runtime directory, where clients look for it.
    mkdir -m 700 "$root/sway-run" "$root/sway-home"
    sway_user=()
    if [[ $(id -u) -eq 0 ]]; then
        user=${QUILL_TEST_SWAY_USER:-quilltest}
        if ! id -u "$user" >/dev/null 2>&1; then
            # A run beside this one may have created it meanwhile.
            useradd --system --user-group --no-create-home --home-dir /nonexistent \
                --shell /usr/sbin/nologin "$user" >>"$log" 2>&1 || id -u "$user" >/dev/null 2>&1 \
                || fail "could not create the user $user for sway"
        fi
        chmod 711 "$root"
        chown "$user:" "$root/sway-run" "$root/sway-home"
        # setpriv executes sway in its own place, so teardown stops sway itself.
        sway_user=(setpriv "--reuid=$user" "--regid=$(id -g "$user")" --init-groups)
        "${sway_user[@]}" test -w "$root/sway-run" || fail "$user cannot reach $root (set TMPDIR to a directory it can)"
    fi

    # sway runs the session script once it is ready, with its environment; the script lets
    # this desktop's user into XWayland (which admits only its own user) and reports the
    # displays and the IPC socket.
    mkfifo "$root/session.fifo"
    cat >"$root/session.sh" <<'SESSION'
#!/bin/sh
tries=100
until xhost "+si:localuser:$QUILL_TEST_X_USER" >/dev/null 2>&1 || [ $((tries -= 1)) -eq 0 ]; do sleep 0.1; done
printf '%s %s %s\n' "$WAYLAND_DISPLAY" "$DISPLAY" "$SWAYSOCK" >"$QUILL_TEST_DESKTOP_ROOT/session.fifo"
SESSION
    chmod 755 "$root/session.sh"
    [[ ${#sway_user[@]} -eq 0 ]] || chown "$user:" "$root/session.fifo"
    cat >"$root/sway.config" <<SWAYCONFIG
xwayland force
output HEADLESS-1 resolution 1280x800
exec $root/session.sh
SWAYCONFIG
    "${sway_user[@]}" env HOME="$root/sway-home" XDG_RUNTIME_DIR="$root/sway-run" QUILL_TEST_DESKTOP_ROOT="$root" \
        QUILL_TEST_X_USER="$(id -un)" WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman \
        sway --config "$root/sway.config" >>"$log" 2>&1 &
    pids+=($!)
    read -r -t 30 WAYLAND_DISPLAY DISPLAY SWAYSOCK <>"$root/session.fifo" || fail "sway did not start"
    [[ -n $DISPLAY ]] || fail "sway started without XWayland"
    export WAYLAND_DISPLAY DISPLAY SWAYSOCK
    ln -s "$root/sway-run/$WAYLAND_DISPLAY" "$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY"
    wait_for 100 xdpyinfo || fail "XWayland $DISPLAY does not answer"
    ;;
esac
dbus-update-activation-environment DISPLAY WAYLAND_DISPLAY XDG_RUNTIME_DIR XDG_CONFIG_HOME XDG_DATA_HOME \
    XDG_CACHE_HOME HOME TMPDIR GSETTINGS_BACKEND XDG_SESSION_TYPE XDG_CURRENT_DESKTOP XDG_SESSION_DESKTOP \
    KDE_SESSION_VERSION DBUS_SYSTEM_BUS_ADDRESS XAUTHORITY >>"$log" 2>&1 || true

case $session in
x11)
    # Window manager; nothing is ever "active" without one.
    openbox --sm-disable >>"$log" 2>&1 &
    pids+=($!)
    wait_for 100 bash -c 'xprop -root _NET_SUPPORTED | grep -q _NET_ACTIVE_WINDOW' || fail "openbox did not start"
    start_accessibility
    start_keyring
    ;;
kwin)
    start_accessibility
    start_keyring
    # KWin serves global shortcuts (org.kde.kglobalaccel) itself, as in a Plasma session. The
    # portal's KDE backend and the portal start after the keyring: the portal would otherwise
    # have the bus start a second keyring daemon that hides the unlocked login keyring.
    wait_for 100 name_has_owner org.kde.kglobalaccel || fail "kglobalaccel did not start"
    multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || gcc -print-multiarch)
    start_service org.freedesktop.impl.portal.desktop.kde "/usr/lib/$multiarch/libexec/xdg-desktop-portal-kde"
    start_service org.freedesktop.portal.Desktop /usr/libexec/xdg-desktop-portal
    start_session_keys
    ;;
sway)
    start_accessibility
    start_keyring
    start_session_keys
    ;;
esac

# Sound server without its default configuration: a null sink and, as microphone, either a
# silent source or a pipe that the test feeds.
if [[ $mic_fifo == 1 ]]; then
    export QUILL_TEST_MIC_FIFO=$root/mic.fifo
    source_module="module-pipe-source source_name=quill_mic file=$QUILL_TEST_MIC_FIFO format=s16le rate=16000 channels=1"
else
    source_module="module-null-source source_name=quill_mic rate=16000 channels=1"
fi
export PULSE_SERVER=unix:$XDG_RUNTIME_DIR/pulse/native
export QUILL_TEST_PULSE_ARGS="--daemonize=no --exit-idle-time=-1 --use-pid-file=no -n --log-target=stderr \
--load=module-native-protocol-unix auth-anonymous=1 socket=$XDG_RUNTIME_DIR/pulse/native \
--load=module-null-sink sink_name=quill_speaker \
--load=$source_module \
--load=module-always-sink"
start_pulseaudio() {
    mkdir -p "$XDG_RUNTIME_DIR/pulse"
    pulseaudio --daemonize=no --exit-idle-time=-1 --use-pid-file=no -n --log-target=stderr \
        --load="module-native-protocol-unix auth-anonymous=1 socket=$XDG_RUNTIME_DIR/pulse/native" \
        --load="module-null-sink sink_name=quill_speaker" \
        --load="$source_module" \
        --load="module-always-sink" >>"$log" 2>&1 &
    pids+=($!)
    wait_for 100 pactl info || fail "pulseaudio did not start"
    pactl set-default-source quill_mic >>"$log" 2>&1
}
if [[ $start_pulse == 1 ]]; then
    start_pulseaudio
fi

awk -v session="$session" -v from="$started" -v to="$EPOCHREALTIME" \
    'BEGIN { printf "test-desktop: the %s desktop was ready after %.2f s\n", session, to - from }' >>"$log"
set +e
"$@"
status=$?
set -e
exit $status
