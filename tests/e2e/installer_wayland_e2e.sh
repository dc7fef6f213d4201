#!/usr/bin/env bash
# The installer on Wayland: the real window on a headless Weston of its own, with no X display
# at all, driven through the accessibility bus as a screen reader drives it (a headless
# compositor takes no pointer or key input from outside). A real nginx serves a small game.
#   installer_wayland_e2e.sh QUELLBRIDGER QUELLBRIDGER-MKLIST
set -euo pipefail

app=$(realpath "$1")
mklist=$(realpath "$2")
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
atspi="$here/atspi.py"
. "$repo/scripts/lib/nginx.sh"
. "$repo/tests/e2e/lib.sh"

for tool in weston dbus-daemon /usr/libexec/at-spi-bus-launcher iconv md5sum curl \
    /usr/sbin/nginx; do
    command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (scripts/setup installs it)" >&2; exit 1; }
done
[ -e /usr/lib/x86_64-linux-gnu/qt6/plugins/platforms/libqwayland-generic.so ] ||
    { echo "FAIL: Qt's Wayland platform is missing (qt6-wayland; scripts/setup installs it)" >&2; exit 1; }
/usr/bin/python3 -c 'import dbus' 2>/dev/null ||
    { echo "FAIL: python3-dbus is missing (scripts/setup installs it)" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/qb-wayland-XXXXXX")
started=()  # our own child processes

cleanup() {
    local pid
    for pid in "${started[@]}"; do
        kill -9 "$pid" 2>/dev/null || true
    done
    [ -f "$work/dbus.pid" ] && kill "$(cat "$work/dbus.pid")" 2>/dev/null || true
    qb_nginx_stop "$work/nginx"
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    echo "--- installer log" >&2
    log_text >&2 || true
    for f in "$work"/app*.out "$work/weston.log"; do
        [ -f "$f" ] && { echo "--- $f" >&2; cat "$f" >&2; }
    done
    exit 1
}

enabled_button() { "$atspi" find "push button" "$1" | grep -q ' enabled$'; }
shows_label() { "$atspi" names label | grep -qxF -- "$1"; }

start_app() {
    "$app" >"$work/app$1.out" 2>&1 &
    app_pid=$!
    started+=("$app_pid")
}

# ---- A small game client ----
client="$work/www/client"
mkdir -p "$client/data/maps" "$client/bin"
head -c $((2 * 1024 * 1024 + 321)) /dev/urandom >"$client/data/world.pak"
for i in 1 2 3; do
    head -c $((i * 50000)) /dev/urandom >"$client/data/maps/region$i.map"
done
head -c 70000 /dev/urandom >"$client/bin/module.dll"
: >"$client/data/empty.cfg"
printf 'Talvermoor Wayland client\n' >"$client/README.txt"
printf '#!/bin/sh\nexec sleep 60\n' >"$client/QXLauncher.exe"

port=$(qb_free_port) || fail "no free port"
"$mklist" "$client" "http://127.0.0.1:$port/client/" >"$work/www/filelist.json"
qb_nginx_start "$work/nginx" "$work/www" "$port" || fail "nginx did not start"

# ---- A fresh user session: no X display, a private runtime folder and session bus ----
export HOME="$work/home"
mkdir -p "$HOME/Desktop"
unset DISPLAY XDG_CONFIG_HOME XDG_DATA_HOME XDG_STATE_HOME XDG_CACHE_HOME
export XDG_RUNTIME_DIR="$work/run"
mkdir -m 700 "$XDG_RUNTIME_DIR"
export WINEPREFIX="$HOME/.wine"
mkdir -p "$WINEPREFIX/drive_c/windows/system32"
touch "$WINEPREFIX/drive_c/windows/system32/vcomp140.dll" \
    "$WINEPREFIX/drive_c/windows/system32/d3dx9_31.dll"
export QUELLBRIDGER_FILE_LIST_URL="http://127.0.0.1:$port/filelist.json"
dbus-daemon --session --fork --address="unix:path=$XDG_RUNTIME_DIR/bus" \
    --print-pid=3 3>"$work/dbus.pid"
export DBUS_SESSION_BUS_ADDRESS="unix:path=$XDG_RUNTIME_DIR/bus"

socket="qb-wayland-$$"
weston --backend=headless-backend.so --socket="$socket" --idle-time=0 \
    --width=1280 --height=1024 >"$work/weston.log" 2>&1 &
started+=("$!")
wait_for 20 "Weston to start" test -S "$XDG_RUNTIME_DIR/$socket"
export WAYLAND_DISPLAY="$socket" QT_QPA_PLATFORM=wayland QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1

# ---- The window comes up on Wayland itself (there is no X server to fall back to) ----
start_app 1
first=$app_pid
wait_for 30 "the main window's Start button" enabled_button Start
ended "$first" && fail "the installer ended"
for name in Browse Cancel Minimize Close; do
    enabled_button "$name" || fail "$name is not there and enabled"
done
"$atspi" find "push button" Pause | grep -q ' disabled$' || fail "Pause is not disabled"
has_log INFO "download thread create success" || fail "no worker line"
grep -qi 'xcb' "$work/app1.out" && fail "the window reached for X11"

# ---- The single-instance lock: a second copy says so in its message box and ends on OK ----
start_app 2
second=$app_pid
wait_for 20 "the second copy's message" shows_label "Program is already ongoing."
"$atspi" press "push button" OK || fail "no OK button to press"
wait_for 10 "the second copy to end" ended "$second"
forget "$second"
wait "$second" || fail "second copy exit status $?"
ended "$first" && fail "the first copy ended"

# ---- Start, and wait for the run to complete ----
"$atspi" press "push button" Start || fail "could not press Start"
wait_for 60 "the download to complete" has_log INFO "total download is succeeded"
(cd "$client" && find . -type f -exec md5sum {} + | sort -k2) >"$work/served.md5"
install="$HOME/Games/HOLLOWMERE WORKS/Talvermoor"
(cd "$install" && find . -type f -exec md5sum {} + | sort -k2) >"$work/installed.md5"
diff -u "$work/served.md5" "$work/installed.md5" >&2 || fail "installed files differ"
wait_for 10 "Launch to be enabled" enabled_button Launch
"$atspi" find "push button" Start | grep -q ' disabled$' || fail "Start is still enabled"

# ---- Cancel asks in a message box; Yes ends the installer ----
"$atspi" press "push button" Cancel || fail "could not press Cancel"
wait_for 15 "the close question" shows_label "Close the Program?"
"$atspi" press "push button" Yes || fail "no Yes button to press"
wait_for 15 "the installer to end" ended "$first"
forget "$first"
wait "$first" || fail "installer exit status $?"
has_log INFO "program close" || fail "no close line"

echo "installer on Wayland: 1 passed, 0 failed"
