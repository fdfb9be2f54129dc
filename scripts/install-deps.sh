#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing dravonelle need, those
# that are missing only; the names are the same on Debian 12 and 13.
# Usage: scripts/install-deps.sh [run|test|package|bench]
set -euo pipefail

run_packages=(
    cmake g++ make pkg-config
    qt6-base-dev qt6-webengine-dev qt6-webchannel-dev qt6-websockets-dev
    libvlc-dev libvlc5 libvlc-bin vlc-plugin-base vlc-plugin-video-output
    libsystemd-dev zlib1g-dev libcurl4-openssl-dev help2man
    fonts-dejavu-core fonts-dejavu-extra
    python3 dbus
)
test_packages=(
    libgtest-dev googletest
    python3-dbusmock
    xvfb xauth x11-utils x11-xserver-utils
    matchbox-window-manager openbox
    nginx-light prometheus chromium
    pulseaudio pulseaudio-utils
    icecast2 ffmpeg openssl
    clang-format git
    systemd  # the journal test's journald; a booted machine has it, a bare chroot not
)

# What builds and checks the Debian package (scripts/package.sh).
package_packages=(
    dpkg-dev file fakeroot lintian debootstrap
)

# The benchmarks' web server and the tools they measure against and with.
bench_packages=(
    nginx-light curl
    xvfb xauth
    chromium ffmpeg linux-perf
    strace e2fsprogs mount
    qml6-module-qtwebengine qml6-module-qtquick qml6-module-qtquick-window
    qml6-module-qtqml-workerscript
)

wanted=("${run_packages[@]}")
case "${1:-test}" in
    test) wanted+=("${test_packages[@]}" "${package_packages[@]}") ;;
    package) wanted+=("${package_packages[@]}") ;;
    bench) wanted+=("${bench_packages[@]}") ;;
esac

if ! command -v npm >/dev/null 2>&1; then
    wanted+=(npm)
fi

missing=()
for package in "${wanted[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    sudo=""
    if [ "$(id -u)" -ne 0 ]; then
        if ! command -v sudo >/dev/null 2>&1; then
            echo "install-deps: these packages are missing, and this user cannot install them" \
                "without sudo; run the command as root (su -), or install sudo" >&2
            exit 1
        fi
        sudo="sudo"
    fi
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get update -qq
    $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The Flash engine, Ruffle's web build, at the version and integrity of the lock file.
ruffle="$(dirname "$0")/../third_party/ruffle"
pinned=$(sed -n 's/.*"@ruffle-rs\/ruffle": "\(.*\)".*/\1/p' "$ruffle/package.json")
if [ ! -f "$ruffle/node_modules/@ruffle-rs/ruffle/ruffle.js" ] ||
    ! grep -q "\"version\": *\"$pinned\"" "$ruffle/node_modules/@ruffle-rs/ruffle/package.json"; then
    (cd "$ruffle" && npm ci --ignore-scripts --no-audit --no-fund --loglevel=error)
fi
