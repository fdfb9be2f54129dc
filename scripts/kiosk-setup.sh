#!/usr/bin/env bash
# Turns a fresh Debian 12 or 13 machine into a display: installs the dravonelle package and
# a minimal X11 session, logs USER in automatically into a session that only runs the
# program (no screen blanking, no cursor), and enables the program's user service.
# Running it again changes nothing that is already so.
#
#   scripts/kiosk-setup.sh [--dry-run] [--deb FILE] USER
#
# --dry-run prints the commands it would run and the files it would write, and changes
# nothing. --deb names the package (default: the newest build-pkg/dravonelle_*.deb).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

dry=0
deb=""
user=""
while [ $# -gt 0 ]; do
    case "$1" in
        --dry-run) dry=1 ;;
        --deb) deb="$2"; shift ;;
        -h|--help) sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        -*) echo "kiosk-setup: unknown option $1" >&2; exit 2 ;;
        *) user="$1" ;;
    esac
    shift
done
if [ -z "$user" ]; then
    echo "usage: scripts/kiosk-setup.sh [--dry-run] [--deb FILE] USER" >&2
    exit 2
fi
if [ -z "$deb" ]; then
    deb="$(ls -t "$root"/build-pkg/dravonelle_*.deb 2>/dev/null | head -n 1 || true)"
    deb="${deb:-$root/build-pkg/dravonelle_VERSION_amd64.deb}"
fi
if [ "$dry" = 0 ]; then
    [ "$(id -u)" -eq 0 ] || { echo "kiosk-setup: run it as root (or with --dry-run)" >&2; exit 2; }
    id "$user" >/dev/null 2>&1 || { echo "kiosk-setup: no user $user" >&2; exit 2; }
    [ -f "$deb" ] || { echo "kiosk-setup: no package $deb (scripts/package.sh builds it)" >&2; exit 2; }
fi

run() {
    if [ "$dry" = 1 ]; then
        echo "run: $*"
    else
        "$@"
    fi
}

# Writes standard input to a file, unless the file already says exactly that.
write() {
    local path="$1" mode="$2" text
    text="$(cat)"
    if [ "$dry" = 1 ]; then
        echo "write: $path (mode $mode)"
        sed 's/^/    /' <<<"$text"
        return
    fi
    if [ -f "$path" ] && [ "$(cat "$path")" = "$text" ]; then
        return
    fi
    mkdir -p "$(dirname "$path")"
    printf '%s\n' "$text" >"$path.new"
    chmod "$mode" "$path.new"
    mv "$path.new" "$path"
}

echo "kiosk-setup: a display for user $user"

# The program, and an X11 session with nothing else in it.
run env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
    "$deb" xserver-xorg-core xserver-xorg-input-libinput xserver-xorg-video-all \
    x11-xserver-utils lightdm dbus-user-session pulseaudio

# Automatic login into the kiosk session; the X server without cursor or blanking.
write /etc/lightdm/lightdm.conf.d/50-dravonelle-kiosk.conf 644 <<CONF
[Seat:*]
autologin-user=$user
autologin-user-timeout=0
autologin-session=dravonelle-kiosk
user-session=dravonelle-kiosk
xserver-command=X -s 0 -dpms -nocursor
CONF

write /usr/share/xsessions/dravonelle-kiosk.desktop 644 <<'DESKTOP'
[Desktop Entry]
Name=dravonelle kiosk
Comment=The channel player, full screen, and nothing else
Exec=/usr/local/bin/dravonelle-kiosk-session
Type=Application
DESKTOP

write /usr/local/bin/dravonelle-kiosk-session 755 <<'SESSION'
#!/bin/sh
# The kiosk's X session: no blanking, then the user's graphical session, in which the
# dravonelle service runs (and is restarted by systemd). The session lasts as long as X.
xset s off -dpms s noblank
systemctl --user import-environment DISPLAY XAUTHORITY
systemctl --user start dravonelle-kiosk.target
exec sleep infinity
SESSION

write /etc/systemd/user/dravonelle-kiosk.target 644 <<'TARGET'
[Unit]
Description=dravonelle kiosk session
BindsTo=graphical-session.target
Wants=graphical-session-pre.target
After=graphical-session-pre.target
TARGET

# The service for every user's graphical session; the user may power the display off.
run systemctl --global enable dravonelle.service
if [ "$dry" = 1 ] || ! id -nG "$user" | grep -qw dravonelle; then
    run adduser "$user" dravonelle
fi
run systemctl enable lightdm.service
run systemctl set-default graphical.target
echo "kiosk-setup: done; the display starts the channel at its next boot"
