#!/usr/bin/env bash
# Builds the Debian package and checks it: its files, its dependencies, lintian (an error
# or a warning fails). Usage: scripts/package.sh [--chroot]
#
# --chroot also installs the package with apt in a fresh chroot of this machine's Debian
# release, made by debootstrap (needs root and the Debian mirror; skipped, with a word,
# where no chroot can be made) and runs dravonelle-push --help there.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/install-deps.sh" package

build="$root/build-pkg"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release \
    -DDRAVONELLE_TESTS=OFF -DDRAVONELLE_BENCH=OFF >/dev/null
cmake --build "$build" -j"$(nproc)"
rm -f "$build"/dravonelle_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb="$(ls "$build"/dravonelle_*.deb)"
echo "package: $deb"

failed=0
fail() {
    echo "package check: $*" >&2
    failed=1
}

listing="$(dpkg-deb -c "$deb" | awk '{ $1 = $2 = $3 = $4 = $5 = ""; sub(/^ +/, ""); print }')"
for file in usr/lib/dravonelle/dravonelle usr/lib/dravonelle/download.swf \
    usr/lib/dravonelle/ruffle/player.html usr/lib/dravonelle/ruffle/ruffle.js \
    usr/lib/dravonelle/ruffle/LICENSE_MIT usr/bin/dravonelle-push usr/bin/dravonelle-listing \
    usr/lib/systemd/user/dravonelle.service usr/share/polkit-1/rules.d/50-dravonelle.rules \
    usr/share/doc/dravonelle/README.md usr/share/doc/dravonelle/copyright \
    usr/share/doc/dravonelle/changelog.gz usr/share/man/man1/dravonelle.1.gz \
    usr/share/man/man1/dravonelle-push.1.gz usr/share/man/man1/dravonelle-listing.1.gz \
    usr/share/man/man1/dravonelle-fleet.1.gz usr/share/man/man1/dravonelle-asrun.1.gz; do
    grep -qx "./$file" <<<"$listing" || fail "missing $file"
done
grep -qx "./usr/bin/dravonelle -> ../lib/dravonelle/dravonelle" <<<"$listing" ||
    fail "missing the link usr/bin/dravonelle"
ls "$build"/src/ruffle/*.wasm >/dev/null && grep -q '\.wasm$' <<<"$listing" ||
    fail "missing the engine's WebAssembly"

depends="$(dpkg-deb -f "$deb" Depends)"
echo "depends: $depends"
for package in libqt6webenginecore6 libqt6webenginecore6-bin libqt6webchannel6 \
    libqt6network6 libqt6dbus6 libvlc5 vlc-plugin-base vlc-plugin-video-output \
    libsystemd0 fonts-dejavu-core libcap2-bin polkitd; do
    grep -Eq "(^|, )$package( |,|$)" <<<"$depends" || fail "no dependency on $package"
done
dpkg-deb -I "$deb" postinst | grep -q "setcap cap_net_bind_service" || fail "postinst sets no capability"

lintian --no-tag-display-limit "$deb" >"$build/lintian.txt" 2>&1 || true
if grep -q '^E:' "$build/lintian.txt"; then
    grep '^E:' "$build/lintian.txt" >&2
    fail "lintian reports errors"
fi
if grep -q '^W:' "$build/lintian.txt"; then
    grep '^W:' "$build/lintian.txt" >&2
    fail "lintian reports warnings"
fi
echo "lintian: no errors, no warnings"

if [ "${1:-}" = "--chroot" ]; then
    release="$(. /etc/os-release && echo "$VERSION_CODENAME")"
    chroot_dir="$(mktemp -d)"
    trap 'umount "$chroot_dir/proc" 2>/dev/null || true; rm -rf "$chroot_dir"' EXIT
    if ! debootstrap --variant=minbase "$release" "$chroot_dir" http://deb.debian.org/debian \
        >"$build/debootstrap.log" 2>&1; then
        echo "chroot: no $release chroot can be made here (see $build/debootstrap.log); the install check is skipped"
        exit $failed
    fi
    cp "$deb" "$chroot_dir/tmp/"
    mount -t proc proc "$chroot_dir/proc"
    chroot "$chroot_dir" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
    chroot "$chroot_dir" env DEBIAN_FRONTEND=noninteractive \
        apt-get install -y -qq --no-install-recommends "/tmp/$(basename "$deb")" >/dev/null ||
        fail "apt cannot install the package in a fresh $release"
    chroot "$chroot_dir" dravonelle-push --help >/dev/null || fail "dravonelle-push --help fails"
    chroot "$chroot_dir" getcap /usr/lib/dravonelle/dravonelle | grep -q cap_net_bind_service ||
        fail "the program has no capability to listen on port 1001"
    echo "installed in a fresh $release chroot"
fi
exit $failed
