#!/usr/bin/env bash
# Takes docs/screenshot.png: the open popup with a few listeners, on a virtual X server with a
# real tray (trayer). Starts three throwaway HTTP servers in 3000-9999, each from its own
# project folder and under a familiar server name, clicks the tray icon and grabs the screen
# around the popup. Needs Xvfb, trayer, xdotool, ImageMagick and python3.
#
# Usage: scripts/screenshot.sh [PATH-TO-quaystone]   (default: build/src/app/quaystone)
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=scripts/lib/xsession.sh
source scripts/lib/xsession.sh

binary=${1:-build/src/app/quaystone}
output=docs/screenshot.png
[ -x "$binary" ] || { echo "screenshot: build the app first ($binary not found)" >&2; exit 1; }
xsession_require Xvfb trayer xdotool import convert python3 || exit 1

# Short, plain project folders read better in the picture than the scratch folder's name.
projects=/tmp/projects
[ -e "$projects" ] && { echo "screenshot: $projects exists; move it away first" >&2; exit 1; }
xsession_init
xsession_on_exit() { rm -rf "$projects"; }
demo=$XSESSION_DIR
timed_out() {
    echo "screenshot: timed out waiting for $*" >&2
    exit 1
}

port_free() { ! (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
port_busy() { ! port_free "$1"; }

# A server is python3 started through a link with the server's name, which is the process
# name the listing shows.
# The interpreter itself, not a launcher script that dispatches on its own name.
python=$(python3 -c 'import os, sys; print(os.path.realpath(sys.executable))')
mkdir -p "$demo/bin"
serve() { # name port folder
    local name=$1 port=$2 folder=$3
    port_free "$port" || { echo "screenshot: port $port is taken; free it first" >&2; exit 1; }
    mkdir -p "$folder"
    ln -sf "$python" "$demo/bin/$name"
    (cd "$folder" && exec "$demo/bin/$name" -m http.server "$port" --bind 127.0.0.1 >/dev/null 2>&1) &
    xsession_track $!
    xsession_wait_for port_busy "$port" || timed_out "a server on port $port"
}
serve node 3000 "$projects/storefront"
serve vite 5173 "$projects/dashboard/web"
serve uvicorn 8080 "$projects/billing-api"
# Longer than the 15 bytes the kernel keeps of a name: shown whole.
serve storybook-dev-server 6006 "$projects/design-system"

# Drawn at twice the size, for screens with high pixel density.
scale=2
xsession_start_xvfb 2560x1600x24
xsession_start_trayer --edge top --align right --widthtype percent --width 100 --height $((26 * scale)) \
    --transparent true --alpha 0 --tint 0x2e3440
xsession_start_tray_app "$binary" QT_SCALE_FACTOR=$scale

xsession_wait_for xsession_tray_icon >/dev/null || timed_out "the tray icon"
xsession_click_window "$(xsession_tray_icon)"
# Park the pointer off the popup so that no row shows a hover.
xdotool mousemove 40 1400
popup=$(xsession_wait_window --name "$XSESSION_POPUP_TITLE") || timed_out "the popup"
sleep 1.5 # the first listing and the working directories
eval "$(xdotool getwindowgeometry --shell "$popup")"

# The popup with the panel above it and a margin of desktop around it. The bare X server's
# black root window becomes a plain desktop colour.
margin=$((24 * scale))
left=$((X - margin))
((left >= 0)) || left=0
crop_w=$((2560 - left))
crop_h=$((Y + HEIGHT + margin))
mkdir -p docs
import -window root -crop "${crop_w}x${crop_h}+${left}+0" +repage "$demo/raw.png"
# The popup sits against the screen's right edge: add the same margin there, panel included.
panel_colour=$(convert "$demo/raw.png" -format '%[pixel:p{0,0}]' info:)
panel_h=$((26 * scale))
convert "$demo/raw.png" -fill '#d8dee9' -draw "color 0,$((crop_h - 1)) floodfill" \
    -background '#d8dee9' -gravity east -splice "${margin}x0" \
    -fill "$panel_colour" -draw "rectangle ${crop_w},0 $((crop_w + margin - 1)),$((panel_h - 1))" "$output"
echo "screenshot: wrote $output ($((crop_w + margin))x${crop_h})"
