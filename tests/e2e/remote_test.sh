#!/usr/bin/env bash
# Drives the real server over TCP, with tallowcrest-remote and with raw bytes
# through bash's /dev/tcp, on a private X display with its own settings.
# usage: remote_test.sh BUILD_DIR SOURCE_DIR
set -u

source "$(dirname "$0")/lib.sh"
e2e_init "${1:-}" "${2:-}"
CLIENT=$E2E_BUILD/tallowcrest-remote
SERVER=$E2E_BUILD/tallowcrest-server
WORK=$E2E_TMP
LIB=$WORK/library

fail() {
    if [[ -s $WORK/server.log ]]; then
        echo "--- server output (last 20 lines) ---" >&2
        tail -n 20 "$WORK/server.log" >&2
    fi
    e2e_fail "remote_test: $*"
}
step() { e2e_log "remote_test: $*"; }

[[ -x $CLIENT ]] || fail "client not built: $CLIENT"
[[ -x $SERVER ]] || fail "server not built: $SERVER"
for tool in sox lame xdotool ss; do
    command -v "$tool" >/dev/null || fail "missing tool: $tool"
done

e2e_start_desktop

# A small library of real MP3 files, with spaces in names and sub-folders.
for track in "Alpha/one" "Beta Band/Two Words" "top"; do
    e2e_make_mp3 "$LIB/$track.mp3" 1 || fail "cannot make $LIB/$track.mp3"
done
# Long enough for a watching client to connect before it ends.
e2e_make_mp3 "$LIB/Beta Band/Live Set/three.mp3" 3 || fail "cannot make three.mp3"
echo "not music" >"$LIB/Alpha/notes.txt"

PORT=$(e2e_free_port) || fail "no free port"
e2e_write_settings "$LIB" "$PORT"

# --- helpers -----------------------------------------------------------------

listening() { e2e_port_listening "$PORT"; }
listening_or_gone() { listening || ! e2e_running "$SERVER_PID"; }

wait_listening() {  # the server listens again once the last client has left
    local i
    for ((i = 0; i < 100; i++)); do
        listening && return 0
        sleep 0.1
    done
    fail "server is not listening on port $PORT"
}

wait_not_listening() {
    local i
    for ((i = 0; i < 100; i++)); do
        listening || return 0
        sleep 0.1
    done
    fail "server still listens on port $PORT while a client is connected"
}

# remote EXPECTED_EXIT ARGS...: runs the client; its stdout lands in $OUT.
remote() {
    local expected=$1
    shift
    wait_listening
    OUT=$(timeout 20 "$CLIENT" --port "$PORT" --timeout 10 "$@" 2>"$WORK/client.err")
    local status=$?
    [[ $status == "$expected" ]] ||
        fail "tallowcrest-remote $* exited $status, expected $expected; stderr: $(cat "$WORK/client.err")"
}

expect_out() {  # expected description
    [[ $OUT == "$1" ]] || fail "$2: got '$OUT', expected '$1'"
}

# Sets status to the exit status of a spawned process, waiting at most 5 s.
wait_exit_status() {
    e2e_wait_for 5 "process $1 ends" bash -c "! kill -0 $1 2>/dev/null || grep -q '^State:.*Z' /proc/$1/status"
    wait "$1"
    status=$?
}

# Raw connection through /dev/tcp on file descriptor 3.
raw_open() {
    wait_listening
    exec 3<>"/dev/tcp/127.0.0.1/$PORT" || fail "cannot connect with /dev/tcp"
}
raw_close() {
    exec 3<&- 3>&-
}
# raw_exchange REQUEST SECONDS FILE: sends the request bytes in one write and
# keeps everything that arrives within the given time.
raw_exchange() {
    printf '%s' "$1" >&3
    timeout "$2" cat <&3 >"$3"
}
expect_bytes() {  # file expected-bytes description
    local expected=$WORK/expected.bin
    printf '%s' "$2" >"$expected"
    cmp -s "$1" "$expected" || fail "$3: got bytes [$(od -c "$1" | head -c 600)], expected [$2]"
}

# --- start the server --------------------------------------------------------

step "starting the server on port $PORT"
e2e_spawn server "$SERVER"
SERVER_PID=$E2E_PID
e2e_wait_for 30 "server listens on port $PORT" listening_or_gone
e2e_running "$SERVER_PID" || fail "server exited during start-up"

# --- track list ---------------------------------------------------------------

step "list"
remote 0 list
LIST=$OUT
[[ $(sort <<<"$LIST") == $(find "$LIB" -name '*.mp3' | sort) ]] ||
    fail "list differs from the files on disk: got [$LIST]"

step "list with raw bytes"
raw_open
raw_exchange "00" 2 "$WORK/list.bin"
raw_close
{
    printf 'START'
    while IFS= read -r path; do printf '%s\r\n' "$path"; done <<<"$LIST"
    printf 'END'
} >"$WORK/list.expected"
cmp -s "$WORK/list.bin" "$WORK/list.expected" ||
    fail "raw 00: got bytes [$(od -c "$WORK/list.bin" | head -c 600)]"

# --- nothing loaded yet --------------------------------------------------------

step "play/stop/pause before any track was opened"
for command in play stop pause; do
    remote 3 "$command"
    expect_out "no track loaded" "$command before open"
done
raw_open
raw_exchange "03" 1 "$WORK/stop.bin"
raw_close
expect_bytes "$WORK/stop.bin" "CODE_12" "raw 03 before open"

# --- open ----------------------------------------------------------------------

step "open a track whose name has a space"
remote 0 open "$LIB/Beta Band/Two Words.mp3"
expect_out "opened: Two Words" "open"
for ((i = 0; i < 50; i++)); do
    xdotool search --name '^Tallowcrest Server: Two Words$' >/dev/null 2>&1 && break
    sleep 0.1
done
xdotool search --name '^Tallowcrest Server: Two Words$' >/dev/null 2>&1 ||
    fail "window caption did not become 'Tallowcrest Server: Two Words'"

step "open a missing track"
remote 3 open "$LIB/Alpha/missing.mp3"
expect_out "not found: $LIB/Alpha/missing.mp3" "open missing"
raw_open
raw_exchange "01$LIB/Alpha" 1 "$WORK/folder.bin"
raw_close
expect_bytes "$WORK/folder.bin" "CODE_12" "raw 01 with a folder"

step "play/stop/pause/louder/quieter/shuffle after open"
for command in play pause stop louder quieter; do
    remote 0 "$command"
    expect_out "ok" "$command"
done
remote 0 shuffle on
expect_out "ok" "shuffle on"
remote 0 shuffle off
expect_out "ok" "shuffle off"

step "requests without a reply send nothing back on the wire"
raw_open
raw_exchange "02" 0.5 "$WORK/play.bin"
raw_exchange "05" 0.5 "$WORK/louder.bin"
raw_exchange "07True" 0.5 "$WORK/shuffle.bin"
raw_exchange "08" 0.5 "$WORK/unknown.bin"
raw_exchange "03" 0.5 "$WORK/stop-loaded.bin"
raw_exchange "01$LIB/top.mp3" 1 "$WORK/open.bin"
raw_exchange "03" 0.5 "$WORK/stop-again.bin"
raw_close
for file in play louder shuffle unknown stop-loaded stop-again; do
    expect_bytes "$WORK/$file.bin" "" "raw request $file"
done
expect_bytes "$WORK/open.bin" "CODE_11top" "raw 01 on the same connection"

# --- one client at a time --------------------------------------------------------

step "a second client is refused while one is connected"
wait_listening
e2e_spawn watch1 "$CLIENT" --port "$PORT" watch
WATCH_PID=$E2E_PID
wait_not_listening
timeout 20 "$CLIENT" --port "$PORT" list >"$WORK/refused.out" 2>"$WORK/refused.err"
status=$?
[[ $status == 1 ]] || fail "second client: exit $status, expected 1"
grep -q "cannot connect to 127.0.0.1:$PORT: Connection refused" "$WORK/refused.err" ||
    fail "second client: unexpected message: $(cat "$WORK/refused.err")"
[[ ! -s $WORK/refused.out ]] || fail "second client printed something on stdout"
e2e_running "$WATCH_PID" || fail "the first client was disturbed: $(cat "$WORK/watch1.log")"
kill -TERM "$WATCH_PID"
wait_exit_status "$WATCH_PID"
[[ $status == 0 ]] || fail "watch ended with $status on SIGTERM"

step "the next client is accepted after the first has left"
remote 0 list
[[ $OUT == "$LIST" ]] || fail "list after reconnect differs"

# --- the end of a track ------------------------------------------------------------

step "the end of a track reaches the client that opened it"
raw_open
raw_exchange "01$LIB/Alpha/one.mp3" 6 "$WORK/ended.bin"
raw_close
expect_bytes "$WORK/ended.bin" "CODE_11oneCODE_12" "open then end of track"

step "watch prints ended"
remote 0 open "$LIB/Beta Band/Live Set/three.mp3"
expect_out "opened: three" "open before watch"
wait_listening
e2e_spawn watch2 "$CLIENT" --port "$PORT" watch
WATCH_PID=$E2E_PID
for ((i = 0; i < 150; i++)); do
    grep -qx "ended" "$WORK/watch2.log" && break
    sleep 0.1
done
grep -qx "ended" "$WORK/watch2.log" ||
    fail "watch printed no 'ended' within 15 s: [$(cat "$WORK/watch2.log")]"
kill -INT "$WATCH_PID"
wait_exit_status "$WATCH_PID"
[[ $status == 0 ]] || fail "watch ended with $status on SIGINT"

kill -0 "$SERVER_PID" 2>/dev/null || fail "server is no longer running"
step "all passed"
