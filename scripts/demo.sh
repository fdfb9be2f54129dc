#!/usr/bin/env bash
# Installs what is missing, builds dravonelle and starts it on the demo: the content
# site under demo/site, served on loopback, with its own settings store and drive in
# demo/run, so that a real installation is not touched. Close the window ("X") or
# press Ctrl+C to stop. Usage: scripts/demo.sh [--full-screen]
#
# It runs in an ordinary window, to sit on a desktop; --full-screen shows it as a kiosk
# does, over the whole screen.
set -euo pipefail
cd "$(dirname "$0")/.."
windowed=1
case "${1:-}" in
    "") ;;
    --full-screen) windowed="" ;;
    *)
        echo "usage: scripts/demo.sh [--full-screen]" >&2
        exit 2
        ;;
esac

scripts/install-deps.sh run

build=build-demo
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDRAVONELLE_TESTS=OFF -DDRAVONELLE_BENCH=OFF
cmake --build "$build" -j"$(nproc)"

run="$PWD/demo/run"
port="${DEMO_PORT:-8765}"
push_port="${DEMO_PUSH_PORT:-10001}"
status_port="${DEMO_STATUS_PORT:-8101}"
rm -rf "$run/www" "$run/faults" "$run/requests.log"
mkdir -p "$run/www" "$run/config/dravonelle" "$run/data"
cp -r demo/site/. "$run/www/"
# The channel's main movie, a news movie that it inserts, a short film for it and a radio
# stream, all made here.
"$build/src/make_demo_movie" "$run/www/test/dravonelle.swf" "$run/www/test/fotos/nieuws.swf"
mkdir -p "$run/www/radio"
python3 - "$run/www" <<'PY'
import math, struct, sys, wave
www = sys.argv[1]
# The radio: a minute of a soft chord that changes every two seconds.
rate = 22050
with wave.open(www + "/radio/stream.wav", "wb") as w:
    w.setnchannels(1); w.setsampwidth(2); w.setframerate(rate)
    chords = [(261.6, 329.6, 392.0), (220.0, 261.6, 329.6), (174.6, 220.0, 261.6), (196.0, 246.9, 293.7)]
    frames = bytearray()
    for i in range(rate * 60):
        notes = chords[(i // (rate * 2)) % len(chords)]
        v = sum(math.sin(2 * math.pi * f * i / rate) for f in notes) / len(notes)
        frames += struct.pack("<h", int(4000 * v))
    w.writeframes(bytes(frames))
# The film: five seconds of moving colour bars, 320 x 240 at 25 frames a second.
with open(www + "/test/fotos/demofilm.y4m", "wb") as f:
    f.write(b"YUV4MPEG2 W320 H240 F25:1 Ip A1:1 C420jpeg\n")
    for n in range(125):
        f.write(b"FRAME\n")
        row = bytes(int(128 + 100 * math.sin((x + 4 * n) / 30.0)) for x in range(320))
        f.write(row * 240)
        f.write(bytes([(60 + 2 * n) % 256]) * (160 * 120))
        f.write(bytes([(200 - n) % 256]) * (160 * 120))
PY
# The site location is the first-start fallback, http://<site host>/test: the listing
# is then asked for as /testdir.php.
"$build/tools/dravonelle-listing" "$run/www/test/fotos" "$run/www/testdir.php"
cat > "$run/www/radio.asx" <<ASX
<asx version="3.0"><entry><ref href="http://127.0.0.1:$port/radio/stream.wav"/></entry></asx>
ASX
cat > "$run/config/dravonelle/dravonelle.conf" <<CONF
[endpoints]
site_host=127.0.0.1:$port
weather_url=http://127.0.0.1:$port/freedata/meerdaagsebanner.jpg
radio_url=http://127.0.0.1:$port/radio.asx

[system]
push_port=$push_port
status_port=$status_port
CONF

# The site sends the film and a photo slowly, so that the connecting screen and its
# progress can be seen.
printf '%s\n' "/test/fotos/demofilm.y4m slow" "/test/fotos/zomermarkt.jpg slow" \
    "/test/fotos/kerkplein.png slow" >"$run/faults"
python3 tools/content_site.py "$run/www" --port "$port" >"$run/http.log" 2>&1 &
server=$!
trap 'kill $server 2>/dev/null || true' EXIT
for _ in $(seq 50); do
    python3 -c "import socket; socket.create_connection(('127.0.0.1', $port), 0.2)" \
        2>/dev/null && break
    sleep 0.1
done

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display: running offscreen. Stop with Ctrl+C."
    export QT_QPA_PLATFORM=offscreen
fi
echo "Demo site: http://127.0.0.1:$port/  push port: $push_port  status: http://127.0.0.1:$status_port/status  files: $run/data"
if [ -n "$windowed" ]; then
    export DRAVONELLE_WINDOWED=1
fi
XDG_CONFIG_HOME="$run/config" XDG_DATA_HOME="$run/data" "$build/src/dravonelle"
