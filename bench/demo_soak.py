#!/usr/bin/env python3
"""The demo over time: runs scripts/demo.sh under Xvfb (radio, photos, a film and an
inserted movie every 30 seconds) and prints, once a minute, the PSS of the program's own
process and of the engine processes it started, as CSV. At the end it prints how far the
whole stayed from its value at the settle minute. With --offscreen the demo draws on Qt's
offscreen platform instead, without the films' picture.

    bench/demo_soak.py [--minutes N] [--settle M] [--every S] [--offscreen]
"""
import argparse
import os
import signal
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def children(pid):
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat") as f:
                fields = f.read().rsplit(")", 1)[1].split()
        except OSError:
            continue
        if int(fields[1]) == pid:
            found.append(int(entry))
    return found


def tree(pid):
    pids = [pid]
    for p in pids:
        pids.extend(children(p))
    return pids


def pss_mib(pid):
    try:
        with open(f"/proc/{pid}/smaps_rollup") as f:
            for line in f:
                if line.startswith("Pss:"):
                    return int(line.split()[1]) / 1024
    except OSError:
        pass
    return 0.0


def find_program(parent, deadline):
    while time.time() < deadline:
        for pid in tree(parent):
            try:
                with open(f"/proc/{pid}/cmdline", "rb") as f:
                    argv0 = f.read().split(b"\0")[0]
            except OSError:
                continue
            if argv0.endswith(b"/src/dravonelle"):
                return pid
        time.sleep(1)
    return None


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--minutes", type=float, default=120)
    parser.add_argument("--settle", type=float, default=10)
    parser.add_argument("--every", type=float, default=60, help="seconds between samples")
    parser.add_argument("--offscreen", action="store_true")
    args = parser.parse_args()

    demo_script = os.path.join(HERE, "..", "scripts", "demo.sh")
    env = dict(os.environ, QT_LOGGING_RULES="dravonelle.*=false")
    if args.offscreen:
        env.pop("DISPLAY", None)
        env.pop("WAYLAND_DISPLAY", None)
        command = [demo_script]
    else:
        env["QT_QPA_PLATFORM"] = "xcb"
        command = ["xvfb-run", "-a", "-s", "-screen 0 1280x1024x24", demo_script]
    demo = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                            env=env, start_new_session=True)
    try:
        program = find_program(demo.pid, time.time() + 1200)  # the demo builds first
        if program is None:
            sys.exit("demo_soak: the program did not start")
        start = time.time()
        print("# the demo %s, sampled every %.0f s"
              % ("offscreen" if args.offscreen else "under Xvfb", args.every))
        print("minute,program_pss_mib,engine_pss_mib,total_pss_mib,engine_processes")
        samples = []
        while time.time() - start <= args.minutes * 60 and demo.poll() is None:
            own = pss_mib(program)
            engines = [p for p in tree(program) if p != program]
            engine = sum(pss_mib(p) for p in engines)
            minute = (time.time() - start) / 60
            samples.append((minute, own + engine))
            print("%.1f,%.1f,%.1f,%.1f,%d" % (minute, own, engine, own + engine, len(engines)),
                  flush=True)
            time.sleep(args.every)
        settled = [total for minute, total in samples if minute >= args.settle]
        if settled:
            base = settled[0]
            print("# after minute %.0f: %.1f MiB, then %.1f to %.1f MiB (%+.1f %% to %+.1f %%)" % (
                args.settle, base, min(settled), max(settled),
                100 * (min(settled) / base - 1), 100 * (max(settled) / base - 1)))
    finally:
        os.killpg(demo.pid, signal.SIGTERM)
        demo.wait()


if __name__ == "__main__":
    main()
