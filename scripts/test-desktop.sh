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
#                      portal with its KDE backend, and kglobalaccel; WAYLAND_DISPLAY and
#                      DISPLAY (XWayland) are set for COMMAND
#     --no-pulse       do not start the sound server (tests that start it themselves)
#     --mic-fifo       make the sound server's default source a pipe the test writes
#                      16 kHz mono s16le samples into: $QUILL_TEST_MIC_FIFO
#     --keep           leave the desktop's directory behind for inspection
#
# Inside, QUILL_TEST_DESKTOP_ROOT names the desktop's directory; QUILL_TEST_PULSE_ARGS holds
# the arguments that started the sound server, so a test can start it again.
set -euo pipefail

usage() { sed -n '2,19p' "$0" >&2; exit 2; }
[[ ${1:-} == run ]] || usage
shift
start_pulse=1 mic_fifo=0 keep=0 wayland=0
while [[ $# -gt 0 ]]; do
    case $1 in
        --wayland) wayland=1 ;;
        --no-pulse) start_pulse=0 ;;
        --mic-fifo) mic_fifo=1 ;;
        --keep) keep=1 ;;
        --) shift; break ;;
        *) usage ;;
    esac
    shift
done
[[ $# -gt 0 ]] || usage

root=$(mktemp -d "${TMPDIR:-/tmp}/quill-desktop.XXXXXX")
pids=()
log=$root/desktop.log

teardown() {
    local status=$?
    trap - EXIT INT TERM
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
    for pid in "${pids[@]}"; do kill -KILL "$pid" 2>/dev/null || true; done
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
export GSETTINGS_BACKEND=memory QUILL_TEST_DESKTOP_ROOT=$root
unset WAYLAND_DISPLAY DISPLAY DBUS_SESSION_BUS_ADDRESS AT_SPI_BUS_ADDRESS PULSE_SERVER SESSION_MANAGER \
    NO_AT_BRIDGE XDG_CURRENT_DESKTOP XDG_SESSION_DESKTOP KDE_FULL_SESSION

start_session_bus() {
    dbus-daemon --session --fork --address="unix:path=$XDG_RUNTIME_DIR/bus" --print-pid=3 3>"$root/dbus.pid" \
        >>"$log" 2>&1 || fail "dbus-daemon did not start"
    pids+=("$(cat "$root/dbus.pid")")
    export DBUS_SESSION_BUS_ADDRESS=unix:path=$XDG_RUNTIME_DIR/bus
}

if [[ $wayland == 0 ]]; then
    export QT_QPA_PLATFORM=xcb XDG_SESSION_TYPE=x11

    # X server on the first free display; it writes the display number to the pipe when ready.
    mkfifo "$root/displayfd"
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$root/displayfd" >>"$log" 2>&1 &
    pids+=($!)
    read -r -t 15 display_number <"$root/displayfd" || fail "Xvfb did not start"
    export DISPLAY=:$display_number
    wait_for 50 xdpyinfo || fail "X server $DISPLAY does not answer"
    start_session_bus
else
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
    QT_QPA_PLATFORM=wayland-org.kde.kwin.qpa "$kwin_dir/kwin_wayland" --virtual --socket "$WAYLAND_DISPLAY" \
        --width 1280 --height 1024 --xwayland --no-lockscreen \
        --exit-with-session "$root/session.sh" >>"$log" 2>&1 &
    pids+=($!)
    read -r -t 30 session_pid session_display <"$root/session.fifo" || fail "KWin did not start"
    pids+=("$session_pid")
    [[ -n $session_display ]] || fail "KWin started without XWayland"
    export DISPLAY=$session_display
    wait_for 50 xdpyinfo || fail "XWayland $DISPLAY does not answer"
fi
dbus-update-activation-environment DISPLAY WAYLAND_DISPLAY XDG_RUNTIME_DIR XDG_CONFIG_HOME XDG_DATA_HOME \
    XDG_CACHE_HOME HOME TMPDIR GSETTINGS_BACKEND XDG_SESSION_TYPE XDG_CURRENT_DESKTOP XDG_SESSION_DESKTOP \
    KDE_SESSION_VERSION >>"$log" 2>&1 || true

name_has_owner() {
    dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner "string:$1" 2>/dev/null | grep -q 'boolean true'
}

if [[ $wayland == 0 ]]; then
    # Window manager; nothing is ever "active" without one.
    openbox --sm-disable >>"$log" 2>&1 &
    pids+=($!)
    wait_for 100 bash -c 'xprop -root _NET_SUPPORTED | grep -q _NET_ACTIVE_WINDOW' || fail "openbox did not start"
fi

# Accessibility bus with accessibility switched on, and its registry.
/usr/libexec/at-spi-bus-launcher --launch-immediately --a11y=1 >>"$log" 2>&1 &
pids+=($!)
wait_for 100 name_has_owner org.a11y.Bus || fail "the accessibility bus did not start"
/usr/libexec/at-spi2-registryd --use-gnome-session=false >>"$log" 2>&1 &
pids+=($!)

# Keyring, unlocked with a throw-away password (an empty one would create no collection).
printf 'quill-test' | gnome-keyring-daemon --foreground --unlock --components=secrets >>"$log" 2>&1 &
pids+=($!)
wait_for 100 name_has_owner org.freedesktop.secrets || fail "gnome-keyring did not start"

if [[ $wayland == 1 ]]; then
    # KWin serves global shortcuts (org.kde.kglobalaccel) itself, as in a Plasma session. The
    # portal's KDE backend and the portal are started here rather than by bus activation so
    # that teardown stops them by pid, and after the keyring: the portal would otherwise have
    # the bus start a second keyring daemon that hides the unlocked login keyring.
    wait_for 100 name_has_owner org.kde.kglobalaccel || fail "kglobalaccel did not start"
    /usr/lib/x86_64-linux-gnu/libexec/xdg-desktop-portal-kde >>"$log" 2>&1 &
    pids+=($!)
    wait_for 100 name_has_owner org.freedesktop.impl.portal.desktop.kde || fail "xdg-desktop-portal-kde did not start"
    /usr/libexec/xdg-desktop-portal >>"$log" 2>&1 &
    pids+=($!)
    wait_for 100 name_has_owner org.freedesktop.portal.Desktop || fail "xdg-desktop-portal did not start"
fi

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

set +e
"$@"
status=$?
set -e
exit $status
