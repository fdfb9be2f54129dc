#!/usr/bin/env bash
# Tries dravonelle on a fresh system of one Debian release, as a new station would: in a
# minimal chroot made by debootstrap (no locale, no extra fonts, no sudo, no sound server,
# no user session), from a clone of this tree's last commit, it runs
#   1. the README's demo command, and checks over /status that the channel's main movie
#      plays;
#   2. the README's test command (scripts/test.sh): the format check, the build with the
#      sanitizers, every test, and the package, which scripts/package.sh installs in a
#      fresh chroot of the same release;
#   3. the kiosk set-up script for a new user, in a third fresh chroot, with that package.
# Needs root and Debian's mirror. The log of each step is kept in the work folder.
#
#   scripts/release-check.sh RELEASE [--keep] [--from test|kiosk]
#
# RELEASE is bookworm (Debian 12) or trixie (Debian 13). --keep leaves the chroots in
# the work folder (DRAVONELLE_CHECK_DIR, default /var/tmp/dravonelle-check-RELEASE).
# --from goes on from a step in the system a kept run made, with this tree's last commit.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

release="${1:-}"
keep=0
from=demo
shift || true
while [ $# -gt 0 ]; do
    case "$1" in
        --keep) keep=1 ;;
        --from) from="${2:-}" keep=1 && shift ;;
        *) release="" ;;
    esac
    shift
done
case "$from" in
    demo | test | kiosk) ;;
    *) release="" ;;
esac
# Each release's demo has ports of its own, so that both checks can run at once.
case "$release" in
    bookworm | 12) release=bookworm demo_port=18765 ;;
    trixie | 13) release=trixie demo_port=28765 ;;
    *)
        echo "usage: scripts/release-check.sh bookworm|trixie [--keep] [--from test|kiosk]" >&2
        exit 2
        ;;
esac
[ "$(id -u)" -eq 0 ] || { echo "release-check: run it as root (it makes chroots)" >&2; exit 2; }
for tool in debootstrap git; do
    command -v "$tool" >/dev/null ||
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$tool"
done

work="${DRAVONELLE_CHECK_DIR:-/var/tmp/dravonelle-check-$release}"
mkdir -p "$work"
mounted=()
cleanup() {
    local index
    for ((index = ${#mounted[@]} - 1; index >= 0; index--)); do
        umount -l "${mounted[index]}" 2>/dev/null || true
    done
    if [ "$keep" = 0 ]; then
        rm -rf "$work/system" "$work/kiosk"
    fi
}
trap cleanup EXIT

# A fresh minimal system with what a chroot lacks of a booted machine: /proc, /sys, /dev,
# shared memory for the browser engine, and the host's name servers.
fresh() {
    local dir="$1"
    rm -rf "$dir"
    echo "release-check: debootstrap $release into $dir"
    debootstrap --variant=minbase "$release" "$dir" http://deb.debian.org/debian \
        >"$work/$(basename "$dir")-debootstrap.log" 2>&1
    attach "$dir"
}
attach() {
    local dir="$1"
    mount -t proc proc "$dir/proc" && mounted+=("$dir/proc")
    mount -t sysfs sys "$dir/sys" && mounted+=("$dir/sys")
    mount --bind /dev "$dir/dev" && mounted+=("$dir/dev")
    mount -t devpts devpts "$dir/dev/pts" -o newinstance,ptmxmode=0666 && mounted+=("$dir/dev/pts")
    mount -t tmpfs shm "$dir/dev/shm" && mounted+=("$dir/dev/shm")
    cp /etc/resolv.conf "$dir/etc/resolv.conf"
    # The authorities this machine adds for its network (a proxy that inspects TLS, say)
    # are the chroot's too: they join its store when ca-certificates comes in.
    if [ -d /usr/local/share/ca-certificates ]; then
        cp -r /usr/local/share/ca-certificates/. "$dir/usr/local/share/ca-certificates/"
    fi
    # As in any chroot, packages' scripts start no services.
    printf '#!/bin/sh\nexit 101\n' >"$dir/usr/sbin/policy-rc.d"
    chmod 755 "$dir/usr/sbin/policy-rc.d"
}

# A command in the chroot as a login of root on a new machine would have it: an empty
# environment but for the basics.
in_chroot() {
    local dir="$1"
    shift
    chroot "$dir" env -i HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
        TERM=dumb ${NODE_EXTRA_CA_CERTS:+NODE_EXTRA_CA_CERTS=/etc/ssl/certs/ca-certificates.crt} "$@"
}

step() {
    local name="$1"
    shift
    local start=$SECONDS
    echo "release-check: $name (log: $work/$name.log)"
    if "$@" >"$work/$name.log" 2>&1; then
        echo "release-check: $name passed in $((SECONDS - start)) s"
    else
        echo "release-check: $name FAILED after $((SECONDS - start)) s; the end of its log:" >&2
        tail -n 40 "$work/$name.log" >&2
        exit 1
    fi
}

system="$work/system"
if [ "$from" = demo ]; then
    fresh "$system"
    git clone --quiet --no-local "$root" "$system/root/dravonelle"
else
    [ -d "$system/root/dravonelle" ] || { echo "release-check: no kept system in $work" >&2; exit 2; }
    attach "$system"
    git -C "$system/root/dravonelle" fetch --quiet "$root" HEAD
    git -C "$system/root/dravonelle" reset --quiet --hard FETCH_HEAD
fi
in_chroot "$system" sh -c '. /etc/os-release && echo "$PRETTY_NAME"'

# 1. The demo, offscreen (a fresh system has no display); it is up when /status shows the
# main movie on air and, in turn, the photo, the film and the news movie it puts on.
demo() {
    in_chroot "$system" env DEMO_PORT="$demo_port" DEMO_PUSH_PORT="$((demo_port + 1))" \
        DEMO_STATUS_PORT="$((demo_port + 2))" bash -c 'cd /root/dravonelle && exec scripts/demo.sh' &
    local pid=$!
    local verdict=0
    # Asked from this machine: the chroot has no python3 until the demo installs it.
    python3 - "$((demo_port + 2))" <<'PY' || verdict=$?
import json, sys, time, urllib.request
deadline = time.time() + 1500  # the first run builds the program
seen = set()
while time.time() < deadline:
    try:
        with urllib.request.urlopen(f"http://127.0.0.1:{sys.argv[1]}/status", timeout=5) as answer:
            status = json.load(answer)
        air = status.get("on_air", {})
        # The main movie plays, and puts its photos, film and news movie on air.
        if air.get("main", {}).get("name", "dravonelle.swf").lower().endswith("dravonelle.swf"):
            seen |= set(air)
        if {"main", "photo", "film", "insert"} <= seen:
            print("the demo plays its main movie with", sorted(seen), "state", status.get("state"))
            sys.exit(0)
    except OSError:
        pass
    time.sleep(0.5)
print("the demo did not play its main movie and what it shows; seen:", sorted(seen))
sys.exit(1)
PY
    # This chroot's demo only: the other release's may be running.
    local each
    for each in $(pgrep -f build-demo/src/dravonelle); do
        if [ "$(readlink "/proc/$each/root")" = "$system" ]; then
            kill -TERM "$each"
        fi
    done
    wait "$pid" || true
    return $verdict
}
[ "$from" = demo ] && step demo demo

# 2. The test command; the package it builds is installed in a fresh chroot of its own.
[ "$from" = kiosk ] || step test in_chroot "$system" bash -c 'cd /root/dravonelle && exec scripts/test.sh'

# 3. The kiosk for a new user, from that package, in a fresh chroot.
kiosk() {
    local dir="$work/kiosk"
    fresh "$dir"
    cp "$system"/root/dravonelle/build-pkg/dravonelle_*.deb "$dir/tmp/"
    cp "$root/scripts/kiosk-setup.sh" "$dir/tmp/"
    in_chroot "$dir" apt-get update -qq
    in_chroot "$dir" useradd --create-home station
    in_chroot "$dir" bash -c 'bash /tmp/kiosk-setup.sh --deb /tmp/dravonelle_*.deb station'
    # The second run changes nothing.
    in_chroot "$dir" bash -c 'bash /tmp/kiosk-setup.sh --deb /tmp/dravonelle_*.deb station'
    test -L "$dir/etc/systemd/user/graphical-session.target.wants/dravonelle.service" ||
        { echo "the service is not enabled"; ls -R "$dir/etc/systemd/user"; return 1; }
    in_chroot "$dir" id -nG station | grep -qw dravonelle
    in_chroot "$dir" dravonelle-push --help >/dev/null
}
step kiosk kiosk
echo "release-check: $release passed"
