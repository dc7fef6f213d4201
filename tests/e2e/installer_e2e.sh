#!/usr/bin/env bash
# The installer as a user meets it: the real window on an X server of its own (Xvfb), a real
# nginx serving a small generated game, and nothing but mouse clicks and keys at the places a
# user would press. Checks what a user would find afterwards.
#   installer_e2e.sh QUELLBRIDGER QUELLBRIDGER-MKLIST
set -euo pipefail

app=$(realpath "$1")
mklist=$(realpath "$2")
repo=$(cd "$(dirname "$0")/../.." && pwd)
. "$repo/scripts/lib/nginx.sh"
. "$repo/tests/e2e/lib.sh"

for tool in Xvfb xdotool iconv md5sum curl /usr/sbin/nginx; do
    command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (scripts/setup installs it)" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/qb-e2e-XXXXXX")
started=()  # our own child processes
launcher_pid=""

cleanup() {
    local pid
    for pid in "${started[@]}"; do
        kill -9 "$pid" 2>/dev/null || true
    done
    [ -n "$launcher_pid" ] && kill -9 "$launcher_pid" 2>/dev/null || true
    qb_nginx_stop "$work/nginx"
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    echo "--- installer log" >&2
    log_text >&2 || true
    for f in "$work"/app*.out; do
        [ -f "$f" ] && { echo "--- $f" >&2; cat "$f" >&2; }
    done
    exit 1
}

# The visible window whose title is exactly $1, in $wid.
find_window() {
    wid=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n1)
    [ -n "$wid" ]
}

# click X Y: a left click at that place of the main window.
click() {
    xdotool mousemove --sync $((win_x + $1)) $((win_y + $2)) click 1
}

# press WINDOW KEY: the key, typed into that window.
press() {
    xdotool windowfocus --sync "$1" 2>/dev/null || xdotool windowfocus "$1"
    xdotool key --clearmodifiers "$2"
}

start_app() {
    "$app" >"$work/app$1.out" 2>&1 &
    app_pid=$!
    started+=("$app_pid")
}

# ---- A small game client with a launcher that waits for input ----
client="$work/www/client"
mkdir -p "$client/data/maps" "$client/data/sound" "$client/bin"
head -c $((2 * 1024 * 1024 + 123)) /dev/urandom >"$client/data/world.pak"
for i in 1 2 3 4 5; do
    head -c $((i * 40000)) /dev/urandom >"$client/data/maps/region$i.map"
done
head -c 300000 /dev/urandom >"$client/data/sound/music.ogg"
head -c 70000 /dev/urandom >"$client/bin/module.dll"
: >"$client/data/empty.cfg"
printf 'Talvermoor end-to-end client\n' >"$client/README.txt"
cat >"$client/QXLauncher.exe" <<'EOF'
#!/bin/sh
echo "$$" > "$HOME/launcher.pid"
pwd > "$HOME/launcher.cwd"
exec sleep 60
EOF

# ---- The server, on a free loopback port ----
port=$(qb_free_port) || fail "no free port"
"$mklist" "$client" "http://127.0.0.1:$port/client/" >"$work/www/filelist.json"
qb_nginx_start "$work/nginx" "$work/www" "$port" || fail "nginx did not start"

# ---- A fresh user with a desktop and the game's runtime packages in the Wine prefix ----
export HOME="$work/home"
mkdir -p "$HOME/Desktop"
unset XDG_CONFIG_HOME XDG_DATA_HOME XDG_STATE_HOME XDG_CACHE_HOME
export XDG_RUNTIME_DIR="$work/run"
mkdir -m 700 "$XDG_RUNTIME_DIR"
export WINEPREFIX="$HOME/.wine"
mkdir -p "$WINEPREFIX/drive_c/windows/system32"
touch "$WINEPREFIX/drive_c/windows/system32/vcomp140.dll" \
    "$WINEPREFIX/drive_c/windows/system32/d3dx9_31.dll"
export QUELLBRIDGER_FILE_LIST_URL="http://127.0.0.1:$port/filelist.json"
export QT_QPA_PLATFORM=xcb
install="$HOME/Games/HOLLOWMERE WORKS/Talvermoor"

# ---- The display ----
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.out" &
started+=("$!")
wait_for 10 "Xvfb to start" test -s "$work/display"
export DISPLAY=":$(head -n1 "$work/display")"

# ---- First start: the main window ----
start_app 1
first=$app_pid
wait_for 20 "the main window" find_window "Quellbridger for Talvermoor"
main=$wid
eval "$(xdotool getwindowgeometry --shell "$main")"
win_x=$X win_y=$Y
[ "$WIDTH" -eq 640 ] && [ "$HEIGHT" -eq 380 ] || fail "window is ${WIDTH}x$HEIGHT"
[ "$win_x" -eq 320 ] && [ "$win_y" -eq 322 ] || fail "window not centred: $win_x,$win_y"
has_log INFO "download thread create success" || fail "no worker line"

# ---- A second copy says so in a box titled with the program's name, and ends on OK ----
start_app 2
second=$app_pid
wait_for 15 "the second copy's message" find_window "quellbridger"
press "$wid" Return
wait_for 10 "the second copy to end" ended "$second"
forget "$second"
wait "$second" || fail "second copy exit status $?"
[ "$(count_log INFO "log initialize success")" -eq 1 ] || fail "the second copy started a session"
[ "$(xdotool search --onlyvisible --name '^Quellbridger for Talvermoor$' | wc -l)" -eq 1 ] ||
    fail "more than one main window"
ended "$first" && fail "the first copy ended"

# ---- Start, and wait for the run to complete ----
click $((285 + 38)) $((320 + 13))
wait_for 40 "the download to complete" has_log INFO "total download is succeeded"
has_log INFO "file download start" || fail "no start line"

# Every file arrived intact, and nothing else is there.
(cd "$client" && find . -type f -exec md5sum {} + | sort -k2) >"$work/served.md5"
(cd "$install" && find . -type f -exec md5sum {} + | sort -k2) >"$work/installed.md5"
diff -u "$work/served.md5" "$work/installed.md5" >&2 || fail "installed files differ"

# The log: a bare line parting the run, then the session's lines in order.
[ -z "$(log_text | head -n1)" ] || fail "the log does not start with a bare line"
expected="log initialize success
file list download success
file list deserialize success
download thread create success
file download start
total download is succeeded"
got=$(log_text | grep -oE '\] \[INFO\] (log initialize success|file list download success|file list deserialize success|download thread create success|file download start|total download is succeeded) $' |
    sed -E 's/^\] \[INFO\] //; s/ $//')
[ "$got" = "$expected" ] || fail "log lines: $got"

# Both shortcuts start the launcher in the install folder; the folder is forgotten.
for shortcut in "$HOME/Desktop/Talvermoor.desktop" \
    "$HOME/.local/share/applications/Talvermoor/Talvermoor.desktop"; do
    [ -x "$shortcut" ] || fail "missing or not executable: $shortcut"
    grep -q '^Exec=.*QXLauncher\.exe' "$shortcut" || fail "no Exec line in $shortcut"
    grep -qxF "Path=$install" "$shortcut" || fail "no Path line in $shortcut"
done
[ ! -e "$HOME/.config/HOLLOWMERE WORKS/Quellbridger" ] || fail "the settings key is still there"

# ---- Launch: the launcher starts in the install folder and the installer ends ----
click $((453 + 38)) $((320 + 13))
wait_for 15 "the installer to end after Launch" ended "$first"
forget "$first"
wait "$first" || fail "installer exit status $?"
wait_for 5 "the launcher" test -s "$HOME/launcher.pid"
launcher_pid=$(cat "$HOME/launcher.pid")
kill -0 "$launcher_pid" || fail "the launcher is not running"
[ "$(cat "$HOME/launcher.cwd")" = "$install" ] || fail "launcher ran in $(cat "$HOME/launcher.cwd")"
has_log INFO "launcher execute" || fail "no launcher line"
kill "$launcher_pid"
launcher_pid=""

# ---- The lock went with the installer: a new start opens its window; Close asks, Yes ends ----
start_app 3
third=$app_pid
wait_for 20 "the main window again" find_window "Quellbridger for Talvermoor"
eval "$(xdotool getwindowgeometry --shell "$wid")"
win_x=$X win_y=$Y
click $((537 + 38)) $((320 + 13))
wait_for 10 "the close question" find_window "quellbridger"
press "$wid" Return
wait_for 10 "the installer to end after Close" ended "$third"
forget "$third"
wait "$third" || fail "installer exit status $?"
has_log INFO "program close" || fail "no close line"

echo "installer end-to-end: 1 passed, 0 failed"
