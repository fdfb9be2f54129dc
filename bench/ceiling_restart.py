#!/usr/bin/env python3
"""The memory ceiling's restart: runs the program with a ceiling of 1 MiB in a throw-away
settings and data folder, waits for it to end with the restart status, starts it again at
once (as the service manager does, without its RestartSec) and prints the time from the
end to the new program's first movie frame. The content site is unreachable, so the
start-up cycle ends at once and the main movie (the demo's) starts.

    bench/ceiling_restart.py PROGRAM     (e.g. build-demo/src/dravonelle, under xvfb-run)
"""
import os
import subprocess
import sys
import tempfile
import time

RESTART_STATUS = 75


def run(program, env, until_frame):
    child = subprocess.Popen([program], env=env, stderr=subprocess.PIPE, text=True)
    for line in child.stderr:
        if until_frame and "flash: first frame of" in line:
            child.terminate()
            child.wait()
            return time.time()
    return child.wait()


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    program = os.path.abspath(sys.argv[1])
    with tempfile.TemporaryDirectory() as folder:
        os.makedirs(os.path.join(folder, "config", "dravonelle"))
        with open(os.path.join(folder, "config", "dravonelle", "dravonelle.conf"), "w") as conf:
            conf.write("[endpoints]\nsite_host=127.0.0.1:9\n\n"
                       "[system]\npush_port=10101\nmemory_ceiling_mb=1\n")
        content = os.path.join(folder, "data", "dravonelle", "drive_c", "fileftp")
        os.makedirs(content)
        subprocess.run([os.path.join(os.path.dirname(program), "make_demo_movie"),
                        os.path.join(content, "dravonelle.swf")], check=True)
        env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(folder, "config"),
                   XDG_DATA_HOME=os.path.join(folder, "data"), DRAVONELLE_WINDOWED="1",
                   QT_LOGGING_RULES="*.debug=false;dravonelle.*=false;dravonelle.platform.info=true")
        started = time.time()
        status = run(program, env, until_frame=False)
        ended = time.time()
        if status != RESTART_STATUS:
            sys.exit("ceiling_restart: the program ended with status %s" % status)
        first_frame = run(program, env, until_frame=True)
        print("ended with status %d after %.1f s; next first frame %.2f s after the end"
              % (status, ended - started, first_frame - ended))


if __name__ == "__main__":
    main()
