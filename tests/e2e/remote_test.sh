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

fail() { e2e_fail "remote_test: $*"; }
step() { e2e_log "remote_test: $*"; }

[[ -x $CLIENT && -x $SERVER ]] || fail "programs not built in $E2E_BUILD"
for tool in sox lame xdotool; do
    command -v "$tool" >/dev/null || fail "missing tool: $tool"
done

e2e_start_desktop

# A small library of real MP3 files, with spaces in names and sub-folders.
for track in "Alpha/one" "Beta Band/Two Words" "Beta Band/Live Set/three" "top"; do
    e2e_make_mp3 "$LIB/$track.mp3" 3 || fail "cannot make $LIB/$track.mp3"
done
echo "not music" >"$LIB/Alpha/notes.txt"

PORT=$(e2e_free_port) || fail "no free port"
e2e_write_settings "$LIB" "$PORT"

# The server listens again once the last client has left.
wait_listening() { e2e_wait_for 10 "the server listening on port $PORT" e2e_port_listening "$PORT"; }

# remote EXIT OUTPUT ARGS...: runs the client and checks its exit status and,
# unless OUTPUT is "*", its stdout; the stdout is left in $OUT.
remote() {
    local exit=$1 output=$2
    shift 2
    wait_listening
    OUT=$(timeout 20 "$CLIENT" --port "$PORT" --timeout 10 "$@" 2>"$WORK/client.err")
    local status=$?
    [[ $status == "$exit" ]] ||
        fail "tallowcrest-remote $* exited $status, expected $exit; stderr: $(cat "$WORK/client.err")"
    [[ $output == "*" || $OUT == "$output" ]] || fail "tallowcrest-remote $*: got '$OUT', expected '$output'"
}

# Raw connection through /dev/tcp on file descriptor 3.
raw_open() {
    wait_listening
    exec 3<>"/dev/tcp/127.0.0.1/$PORT" || fail "cannot connect with /dev/tcp"
}
raw_close() { exec 3<&- 3>&-; }
# raw_expect REQUEST EXPECTED [SECONDS]: sends the request bytes in one write;
# exactly the expected bytes must arrive within the time (default 1 s).
raw_expect() {
    printf '%s' "$1" >&3
    timeout "${3:-1}" cat <&3 >"$WORK/raw.bin"
    printf '%s' "$2" >"$WORK/raw.expected"
    cmp -s "$WORK/raw.bin" "$WORK/raw.expected" ||
        fail "raw ${1:0:60}: got bytes [$(od -c "$WORK/raw.bin" | head -c 600)], expected [$2]"
}

step "starting the server on port $PORT"
e2e_spawn server "$SERVER"
SERVER_PID=$E2E_PID
listening_or_gone() { e2e_port_listening "$PORT" || ! e2e_running "$SERVER_PID"; }
e2e_wait_for 30 "server listens on port $PORT" listening_or_gone
e2e_running "$SERVER_PID" || fail "server exited during start-up"

step "list"
remote 0 "*" list
LIST=$OUT
[[ $(sort <<<"$LIST") == $(find "$LIB" -name '*.mp3' | sort) ]] ||
    fail "list differs from the files on disk: got [$LIST]"
mapfile -t paths <<<"$LIST"
printf -v body '%s\r\n' "${paths[@]}"
raw_open
raw_expect "00" "START${body}END" 2
raw_close

step "play/stop/pause before any track was opened"
for command in play stop pause; do
    remote 3 "no track loaded" "$command"
done
raw_open
raw_expect "03" "CODE_12"
raw_close

step "open a track whose name has a space, then a missing one and a folder"
remote 0 "opened: Two Words" open "$LIB/Beta Band/Two Words.mp3"
e2e_wait_window 5 "the caption 'Tallowcrest Server: Two Words'" --name '^Tallowcrest Server: Two Words$'
remote 3 "not found: $LIB/Alpha/missing.mp3" open "$LIB/Alpha/missing.mp3"
raw_open
raw_expect "01$LIB/Alpha" "CODE_12"
raw_close

step "play/pause/stop/louder/quieter/shuffle after open"
for command in play pause stop louder quieter "shuffle on" "shuffle off"; do
    remote 0 "ok" $command
done

# A connected client hears "CODE_12" when a track ends: "02" comes last and
# "03" stops the track long before its end.
step "requests without a reply send nothing back on the wire"
raw_open
for request in 05 07True 08 02 03; do
    raw_expect "$request" "" 0.5
done
raw_expect "01$LIB/top.mp3" "CODE_11top"
raw_expect "03" "" 0.5
raw_close

step "a second client is refused while one is connected"
wait_listening
e2e_spawn watch "$CLIENT" --port "$PORT" watch
WATCH_PID=$E2E_PID
e2e_wait_for 10 "the server taking the watching client on" e2e_port_closed "$PORT"
timeout 20 "$CLIENT" --port "$PORT" list >"$WORK/refused.out" 2>"$WORK/refused.err"
status=$?
[[ $status == 1 ]] || fail "second client: exit $status, expected 1"
grep -q "cannot connect to 127.0.0.1:$PORT: Connection refused" "$WORK/refused.err" ||
    fail "second client: unexpected message: $(cat "$WORK/refused.err")"
[[ ! -s $WORK/refused.out ]] || fail "second client printed something on stdout"
e2e_running "$WATCH_PID" || fail "the first client was disturbed: $(cat "$WORK/watch.log")"
kill -TERM "$WATCH_PID"
e2e_wait_exit "$WATCH_PID" 5 >"$WORK/watch.status"
[[ $(<"$WORK/watch.status") == 0 ]] || fail "watch ended with $(<"$WORK/watch.status") on SIGTERM"

step "the next client is accepted after the first has left"
remote 0 "$LIST" list

e2e_running "$SERVER_PID" || fail "server is no longer running"
step "all passed"
