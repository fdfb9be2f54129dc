#!/usr/bin/env bash
# The kiosk set-up's dry run prints its whole plan for the user and changes nothing.
set -uo pipefail
setup="$1"
plan="$("$setup" --dry-run --deb /tmp/dravonelle_1.0_amd64.deb station)" || { echo "dry run failed"; exit 1; }
status=0
for line in \
    "run: env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends /tmp/dravonelle_1.0_amd64.deb" \
    "autologin-user=station" \
    "autologin-session=dravonelle-kiosk" \
    "xserver-command=X -s 0 -dpms -nocursor" \
    "xset s off -dpms s noblank" \
    "write: /usr/share/xsessions/dravonelle-kiosk.desktop (mode 644)" \
    "write: /etc/systemd/user/dravonelle-kiosk.target (mode 644)" \
    "run: systemctl --global enable dravonelle.service" \
    "run: adduser station dravonelle"; do
    if ! grep -qF -- "$line" <<<"$plan"; then
        echo "the plan lacks: $line"
        status=1
    fi
done
for path in /etc/lightdm/lightdm.conf.d/50-dravonelle-kiosk.conf /usr/local/bin/dravonelle-kiosk-session; do
    if [ -e "$path" ]; then
        echo "the dry run wrote $path"
        status=1
    fi
done
"$setup" --dry-run >/dev/null 2>&1
if [ $? -ne 2 ]; then
    echo "no user given: expected exit status 2"
    status=1
fi
exit $status
