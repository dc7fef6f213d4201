# Helpers shared by the end-to-end scripts (sourced). They expect $HOME set to the test's
# home, the array started of our own child processes, and a function fail that reports and
# exits.

# The installer's daily log as UTF-8 text.
log_text() {
    cat "$HOME"/.local/state/Quellbridger/Quellbridger_*.txt 2>/dev/null |
        iconv -f UTF-16LE -t UTF-8 | tr -d '\r'
}

# A decorated log line "[time] [LEVEL] text ".
has_log() { log_text | grep -qF -- "] [$1] $2 "; }
count_log() { log_text | grep -cF -- "] [$1] $2 " || true; }

# wait_for SECONDS WHAT COMMAND...: runs COMMAND until it succeeds, or fails the test.
wait_for() {
    local limit=$1 what=$2
    shift 2
    local end=$((SECONDS + limit))
    until "$@" >/dev/null 2>&1; do
        [ "$SECONDS" -lt "$end" ] || fail "waited ${limit}s for: $what"
        sleep 0.1
    done
}

# Drops a reaped child from the list that cleanup ends.
forget() {
    local keep=() pid
    for pid in "${started[@]}"; do
        [ "$pid" = "$1" ] || keep+=("$pid")
    done
    started=("${keep[@]}")
}

ended() { ! kill -0 "$1" 2>/dev/null || grep -q ') Z' "/proc/$1/stat" 2>/dev/null; }
