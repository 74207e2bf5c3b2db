#!/usr/bin/env bash
# Installs the Debian 12 packages that Quaystone needs.
#
#   scripts/install-deps.sh run    building the app and its package, and running it
#   scripts/install-deps.sh test   the same, and what the tests, benchmarks, fuzzing and the
#                                  package checks need on top
#
# Idempotent: packages already present are left alone. Works as root, or through sudo.
set -euo pipefail

run_packages=(
    # build, and dpkg-buildflags and dpkg-shlibdeps for the package
    build-essential cmake ninja-build pkg-config dpkg-dev
    # toolkit and coroutines
    qt6-base-dev qt6-qpa-plugins libqt6svg6 qcoro-qt6-dev
    # the listing tool the app runs (its path is fixed when the project is configured)
    lsof
    # HTTP over the container engine's Unix socket
    libcurl4-openssl-dev
    # the app's own watch for an XEmbed tray (xcb)
    libxcb1-dev
)
test_packages=(
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
    # fonts so that text renders in screenshots and under Xvfb
    fonts-dejavu-core
    # the package checks: validators for the desktop entry, metainfo and man page, lintian, and
    # a clean Debian root to install the package into
    desktop-file-utils appstream man-db lintian mmdebstrap
    # a real container engine for the container tests, and the one program of their image
    docker.io busybox-static
    # a real systemd for the service tests, booted in a container; the user manager's session bus
    systemd-container dbus-user-session
    # the real shells under Wayland: GNOME Shell with the AppIndicator extension, and Plasma
    # (KWin, plasmashell and its Qt 5 Wayland plugin), with what builds the KWin input client
    gnome-shell gnome-shell-extension-appindicator xwayland
    kwin-wayland plasma-workspace plasma-desktop qtwayland5 libwayland-dev plasma-wayland-protocols
)

case ${1:-} in
run) packages=("${run_packages[@]}") ;;
test) packages=("${run_packages[@]}" "${test_packages[@]}") ;;
*)
    echo "usage: install-deps.sh run|test" >&2
    exit 2
    ;;
esac

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

if [ "$(id -u)" -eq 0 ]; then
    as_root=()
elif command -v sudo >/dev/null 2>&1 && sudo -v; then
    as_root=(sudo)
else
    echo "install-deps: installing packages needs root, and sudo is not available; as root, run:" >&2
    echo "  su -c '$(realpath "$0") $1'" >&2
    exit 1
fi

echo "install-deps: installing ${missing[*]}"
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
