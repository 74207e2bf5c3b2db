#!/usr/bin/env bash
# Checks what the package installs for the desktop, and with --install the package itself.
#
#   scripts/check-package.sh BUILD_DIR            validate the desktop entry, the AppStream metainfo
#                                                 and the man page; the man page and --help name the
#                                                 same options
#   scripts/check-package.sh BUILD_DIR --install  also build the .deb (scripts/build-package.sh), run
#                                                 lintian on it, and install and check it in a clean
#                                                 Debian 12 root (scripts/check-package-root.sh, as
#                                                 root)
#
# BUILD_DIR is a configured and built tree. Exits 77 when a validator is not installed.
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=${1:?usage: check-package.sh BUILD_DIR [--install]}
build_dir=$(cd "$build_dir" && pwd)
install=${2:-}

fail() {
    echo "check-package: FAIL: $*" >&2
    exit 1
}

for tool in desktop-file-validate appstreamcli man; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "check-package: SKIPPED: $tool is not installed (scripts/install-deps.sh installs it)"
        exit 77
    fi
done

# Hints and warnings count as failures too: each validator prints nothing for a clean file.
echo "== desktop entry"
out=$(desktop-file-validate packaging/*.desktop 2>&1) || fail "desktop-file-validate: $out"
[ -z "$out" ] || fail "desktop-file-validate: $out"

echo "== AppStream metainfo"
appstreamcli validate --no-net packaging/*.metainfo.xml || fail "appstreamcli validate"

# One id names the desktop entry, the metainfo and what the metainfo launches; the entry's icon
# is one the package installs.
for entry in packaging/*.desktop; do
    id=$(basename "$entry" .desktop)
    metainfo="packaging/$id.metainfo.xml"
    [ -f "$metainfo" ] || fail "no $metainfo beside $entry"
    grep -qF "<id>$id</id>" "$metainfo" || fail "$metainfo does not have the id $id"
    grep -qF "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" ||
        fail "$metainfo does not launch $id.desktop"
    icon=$(sed -n 's/^Icon=//p' "$entry")
    [ -f "packaging/$icon.svg" ] || fail "$entry names the icon $icon, which is not in packaging/"
done

echo "== man page"
page="$build_dir/packaging/quaystone.1"
[ -f "$page" ] || fail "$page is missing; build the project first"
warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
[ -z "$warnings" ] || fail "man --warnings: $warnings"

binary="$build_dir/src/app/quaystone"
rendered=$(LC_ALL=C.UTF-8 MANWIDTH=200 man -l "$page" 2>/dev/null | col -b)
options=$(env -u DISPLAY -u WAYLAND_DISPLAY "$binary" --help | grep -oE -- '--[a-z][a-z-]*' | sort -u)
[ -n "$options" ] || fail "--help names no option"
for option in $options; do
    grep -qF -- "$option" <<<"$rendered" || fail "the man page does not document $option"
done
echo "check-package: the man page documents $(wc -w <<<"$options") options, as --help does"

[ "$install" = "--install" ] || exit 0

echo "== Debian package"
deb=$(scripts/build-package.sh "${QUAYSTONE_PACKAGE_BUILD_DIR:-build-package}")
dpkg-deb -f "$deb" Depends | grep -qw lsof || fail "the package does not depend on lsof"
contents=$(dpkg-deb -c "$deb")
for file in applications/io.github.quaystone.Quaystone.desktop metainfo/io.github.quaystone.Quaystone.metainfo.xml \
    icons/hicolor/scalable/apps/quaystone.svg icons/hicolor/48x48/apps/quaystone.png \
    icons/hicolor/symbolic/apps/quaystone-symbolic.svg man/man1/quaystone.1.gz \
    dbus-1/services/io.github.quaystone.Quaystone.service; do
    grep -q " \./usr/share/$file$" <<<"$contents" || fail "the package does not install /usr/share/$file"
done

echo "== lintian"
lintian --pedantic --display-info --fail-on error,warning "$deb" || fail "lintian: see above"

scripts/check-package-root.sh "$deb"
echo "check-package: ok"
