#!/usr/bin/env bash
# Installs the Debian 12 packages that Quaystone needs to build, run and test.
# Idempotent: packages already present are left alone. Works as root, or through sudo.
set -euo pipefail

packages=(
    # build
    build-essential cmake ninja-build pkg-config
    # toolkit and coroutines
    qt6-base-dev qt6-qpa-plugins libqt6svg6 qcoro-qt6-dev
    # the listing tool the app runs
    lsof
    # HTTP over the container engine's Unix socket
    libcurl4-openssl-dev
    # tests, benchmarks, fuzzing, and the formatting check
    libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev clang-format
    # end-to-end and screenshot tooling
    xvfb xauth xdotool trayer dbus dbus-x11 at-spi2-core python3-pyatspi imagemagick
    # stopping another user's listener as administrator, and its tests (strace holds the helper
    # at a chosen point)
    pkexec polkitd strace
    # tray hosts of the end-to-end tests: a StatusNotifierWatcher in Python over Gio, and a
    # Wayland compositor with Qt's Wayland platform plugin
    python3-gi gir1.2-glib-2.0 weston qt6-wayland
    # the app's own watch for an XEmbed tray (xcb)
    libxcb1-dev
    # fonts so that text renders in screenshots and under Xvfb
    fonts-dejavu-core
    # the package: validators for the desktop entry, metainfo and man page; dpkg-shlibdeps for cpack
    desktop-file-utils appstream man-db dpkg-dev
    # a real container engine for the container tests, and the one program of their image
    docker.io busybox-static
)

if [ "$(id -u)" -eq 0 ]; then
    as_root=()
elif command -v sudo >/dev/null 2>&1; then
    as_root=(sudo)
else
    echo "install-deps: run as root or install sudo" >&2
    exit 1
fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    echo "install-deps: all packages already installed"
    exit 0
fi

echo "install-deps: installing ${missing[*]}"
"${as_root[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
