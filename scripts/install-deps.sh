#!/usr/bin/env bash
# Installs what building, running and testing Quillpoint needs on Debian 12. Idempotent: when
# every package is present it changes nothing and asks no server. Works as root or with sudo.
set -euo pipefail

packages=(
    # build
    build-essential cmake ninja-build pkg-config clang-format clang-tidy shellcheck
    qt6-base-dev qt6-base-dev-tools qt6-svg-dev qt6-qpa-plugins libqt6svg6 qt6-l10n-tools libqt6sql6-sqlite
    libsecret-1-dev libglib2.0-dev libatspi2.0-dev at-spi2-core
    libxcb1-dev libxcb-keysyms1-dev libxcb-xtest0-dev libxcb-shape0-dev libxkbcommon-dev libxkbcommon-x11-dev libgl-dev
    libwayland-dev
    libavcodec-dev libavformat-dev libavutil-dev libswresample-dev libpulse-dev libicu-dev
    libbenchmark-dev
    # the Debian packages (scripts/package.sh) and the checks of their contents
    dpkg-dev file binutils lintian desktop-file-utils appstream systemd
    # running and the reference backend
    nodejs npm redis-server gnome-keyring dbus dbus-x11 pulseaudio pulseaudio-utils fonts-dejavu-core
    # the headless test desktop and the applications tests drive
    xvfb xauth x11-utils x11-xserver-utils openbox mousepad xterm xdotool xclip
    # the applications people select text in, for tst_applications_desktop: about 300 MB to
    # download, 1 GB installed, 3 to 4 minutes on a fresh machine; konsole adds 2 MB to download
    # and 9 MB installed to what kwrite brings
    firefox-esr chromium gnome-text-editor kwrite libreoffice-writer libreoffice-gtk3 konsole
    # the Wayland test desktop (scripts/test-desktop.sh --wayland)
    kwin-wayland xwayland xdg-desktop-portal xdg-desktop-portal-kde wl-clipboard
    # Qt 5's Wayland plugin: without it the portal's KDE backend runs on XWayland and its
    # RemoteDesktop refuses every session (it needs KWin's screencast protocol)
    qtwayland5
    # the GNOME and sway test desktops (--gnome, --sway) and their keyboard and consent helpers
    gnome-shell gnome-settings-daemon dconf-service dconf-gsettings-backend libglib2.0-bin
    xdg-desktop-portal-gnome xdg-desktop-portal-gtk sway python3 python3-gi gir1.2-atspi-2.0
    espeak-ng sox ffmpeg openssl
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
# A machine may bring its own Node.js outside Debian's packages; use it when it is new enough.
if command -v node >/dev/null && command -v npm >/dev/null \
    && [[ $(node -p 'process.versions.node.split(".")[0]') -ge 20 ]]; then
    missing=("${missing[@]/#nodejs/}")
    missing=("${missing[@]/#npm/}")
    read -r -a missing <<<"${missing[*]}"
fi
[[ ${#missing[@]} -eq 0 ]] && exit 0

sudo=()
[[ $(id -u) -eq 0 ]] || sudo=(sudo)
echo "install-deps: installing ${missing[*]}" >&2
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
