#!/usr/bin/env bash
# The program's log reaches a real journald with each line's priority, as a unit's output
# does: journalctl -p warning shows the failed fetches of a site that cannot be reached,
# and none of the info lines. journald runs in a mount namespace of the test's own, so
# that the machine's journal (if any) is neither read nor written.
# Usage: journal_test.sh PROGRAM   (needs root; exits 77, skipped, without)
set -uo pipefail
program="$1"
if [ "$(id -u)" -ne 0 ] || [ ! -x /lib/systemd/systemd-journald ] ||
    ! command -v systemd-cat >/dev/null || ! unshare -m true 2>/dev/null; then
    echo "needs root, unshare and systemd-journald"
    exit 77
fi
if [ "${1:-}" != "--inside" ]; then
    exec unshare -m --propagation private "$0" --inside "$program"
fi
program="$2"
temp="$(mktemp -d)"
trap 'kill "$journald" 2>/dev/null; wait 2>/dev/null; rm -rf "$temp"' EXIT
mkdir -p /run/systemd/journal /run/log/journal
mount -t tmpfs tmpfs /run/systemd/journal
mount -t tmpfs tmpfs /run/log/journal
[ -d /var/log/journal ] && mount -t tmpfs tmpfs /var/log/journal
/lib/systemd/systemd-journald >"$temp/journald.log" 2>&1 &
journald=$!
for _ in $(seq 100); do
    [ -S /run/systemd/journal/stdout ] && break
    sleep 0.1
done

mkdir -p "$temp/config/dravonelle" "$temp/data"
push_port=$((20000 + RANDOM % 20000))
cat >"$temp/config/dravonelle/dravonelle.conf" <<CONF
[main]
lokatie=http://127.0.0.1:9/test
[endpoints]
site_host=127.0.0.1:9
weather_url=http://127.0.0.1:9/weer.jpg
radio_url=http://127.0.0.1:9/radio.asx
[system]
status_port=0
push_port=$push_port
CONF
# systemd names the stream a unit's output goes to in JOURNAL_STREAM; systemd-cat does not,
# so the wrapper does what the service manager does.
env -i PATH="$PATH" HOME="$temp" XDG_CONFIG_HOME="$temp/config" XDG_DATA_HOME="$temp/data" \
    XDG_RUNTIME_DIR="$temp" QT_QPA_PLATFORM=offscreen \
    DBUS_SESSION_BUS_ADDRESS="unix:path=$temp/no-session-bus" \
    ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:new_delete_type_mismatch=0 \
    systemd-cat -t dravonelle-journal-test sh -c \
    'JOURNAL_STREAM="$(stat -L -c %d:%i /proc/self/fd/2)" exec "$0"' "$program" &
runner=$!
ask() { journalctl -D /run/log/journal --no-pager -o cat -t dravonelle-journal-test "$@"; }
for _ in $(seq 120); do
    grep -q "dravonelle.update" <<<"$(ask -p warning)" && break
    sleep 0.5
done
pkill -TERM -f "^$program" 2>/dev/null || kill -TERM "$runner"
wait "$runner" 2>/dev/null
sleep 0.5

status=0
warnings="$(ask -p warning)"
everything="$(ask)"
if ! grep -q "^dravonelle.update: " <<<"$warnings"; then
    echo "journalctl -p warning shows no failed fetch"
    status=1
fi
for info in "dravonelle starts" "push server listening"; do
    grep -q "$info" <<<"$everything" || { echo "the journal lacks the info line: $info"; status=1; }
    if grep -q "$info" <<<"$warnings"; then
        echo "an info line is shown as a warning: $info"
        status=1
    fi
done
if grep -q '^<[0-9]>' <<<"$everything"; then
    echo "a line kept its priority prefix: journald did not read it"
    status=1
fi
# A priority of its own for every level the program writes.
json="$(ask -o json)"
for level in 4 6; do
    grep -q "\"PRIORITY\":\"$level\"" <<<"$json" || { echo "no line at priority $level"; status=1; }
done
if [ $status -ne 0 ]; then
    echo "--- the journal:"
    head -c 4000 <<<"$everything"
fi
exit $status
