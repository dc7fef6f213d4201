#!/bin/sh
# Stand-in for the game's launcher in the demo: says hello and then waits for input.
echo "Talvermoor Launcher (demo) started in $(pwd)" >> "${TMPDIR:-/tmp}/talvermoor-demo-launcher.log"
if [ -n "${DISPLAY:-}" ] && command -v xmessage >/dev/null 2>&1; then
    exec xmessage -center "Talvermoor Launcher (demo): the client is installed in $(pwd)"
fi
exec sleep 86400
