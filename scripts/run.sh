#!/usr/bin/env bash
# Installs what building and running need, builds the Debian package, installs it (so that
# `apt-get remove quaystone` undoes it) and starts the installed app in the system tray as the
# user who ran this, also when it was run through sudo or su. Arguments go to the app.
#
# Becomes root through sudo where needed; without sudo it says how to run it as root instead, before
# it changes anything.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD

say() { echo "run: $*" >&2; }

# --- who installs, and who the app is for ----------------------------------------------------
# The nearest process above this one that belongs to another user than root: the shell that ran
# sudo or su. Prints its pid.
caller_process() {
    local pid=$PPID
    while [ "$pid" -gt 1 ]; do
        if [ "$(stat -c %u "/proc/$pid")" != 0 ]; then
            echo "$pid"
            return 0
        fi
        pid=$(sed -n 's/^PPid:[[:space:]]*//p' "/proc/$pid/status")
    done
    return 1
}

if [ "$(id -u)" -ne 0 ]; then
    user=$(id -un)
    if ! command -v sudo >/dev/null 2>&1 || ! sudo -v; then
        say "installing the package needs root, and sudo is not available to $user."
        say "Run this as root; it still starts the app as $user:"
        say "  su -c '$repo/scripts/run.sh'"
        exit 1
    fi
    as_root=(sudo)
else
    as_root=()
    # Through sudo it says who; through su the caller's shell is the nearest process of another
    # user. Root only when nobody else called it.
    user=${SUDO_USER:-}
    if [ -z "$user" ] && caller=$(caller_process); then
        user=$(id -nu "$(stat -c %u "/proc/$caller")")
    fi
    user=${user:-root}
fi
uid=$(id -u "$user")
home=$(getent passwd "$user" | cut -d: -f6)

# The build runs as the user who owns the checkout, so that root leaves no files there that the
# user cannot remove.
as_user=()
if [ "$(id -u)" -ne "$uid" ] && [ "$(stat -c %u .)" = "$uid" ]; then
    as_user=(runuser -u "$user" --)
fi

# --- packages, build, package, install -------------------------------------------------------
say "installing what building and running need"
scripts/install-deps.sh run

say "building the package"
deb=$("${as_user[@]}" scripts/build-package.sh build-package)

say "installing $deb"
# --reinstall: a rebuild of the same version replaces the installed one.
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --reinstall "$deb"

# --- start it as the user ----------------------------------------------------------------------
if [ "$(id -u)" -eq "$uid" ]; then
    say "starting quaystone"
    exec /usr/bin/quaystone "$@"
fi

# sudo and su keep little of the user's session: take it from the user's own process that started
# this (the shell that ran sudo or su), else from this environment, else the session's defaults.
session_vars='^(DISPLAY|WAYLAND_DISPLAY|XAUTHORITY|DBUS_SESSION_BUS_ADDRESS|XDG_RUNTIME_DIR|XDG_CURRENT_DESKTOP|XDG_SESSION_TYPE|XDG_SESSION_DESKTOP|DESKTOP_SESSION|XDG_DATA_DIRS|XDG_CONFIG_DIRS|LANG|LANGUAGE|LC_[A-Z]+|QT_[A-Z_]+)='
session_env=()
unset vars
if caller=$(caller_process) && [ "$(stat -c %u "/proc/$caller")" = "$uid" ]; then
    mapfile -d '' vars <"/proc/$caller/environ"
fi
[ -n "${vars+set}" ] || mapfile -d '' vars < <(env -0)
for var in "${vars[@]}"; do
    [[ $var =~ $session_vars ]] && session_env+=("$var")
done
runtime_dir=/run/user/$uid
if [ -d "$runtime_dir" ]; then
    session_env=("XDG_RUNTIME_DIR=$runtime_dir" "${session_env[@]}")
    [ -S "$runtime_dir/bus" ] && session_env=("DBUS_SESSION_BUS_ADDRESS=unix:path=$runtime_dir/bus" "${session_env[@]}")
fi

say "starting quaystone as $user"
# Later assignments win: the session's own values over the defaults put first.
exec runuser -u "$user" -- env -i HOME="$home" USER="$user" LOGNAME="$user" PATH=/usr/local/bin:/usr/bin:/bin \
    "${session_env[@]}" /usr/bin/quaystone "$@"
