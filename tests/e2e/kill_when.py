#!/usr/bin/env python3
"""Kills a process with SIGKILL as soon as a count in a catalogue, or a file's size,
reaches a value.

    kill_when.py DATABASE SQL AT PID TIMEOUT_SECONDS [READY_FILE]
    kill_when.py --file PATH AT PID TIMEOUT_SECONDS [READY_FILE]

Polls in-process, so the kill follows the count within a few milliseconds; READY_FILE, when
given, is created once the first count is taken, so that the caller can start the work then.
Exits 0 after the kill, 1 when the process ended first, 2 on time-out.
"""
import os
import signal
import sqlite3
import sys
import time

source, what, at, pid, timeout = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), float(sys.argv[5])
ready = sys.argv[6] if len(sys.argv) > 6 else None
connection = None


def current():
    global connection
    if source == "--file":
        try:
            return os.stat(what).st_size
        except FileNotFoundError:
            return -1
    try:
        if connection is None:
            connection = sqlite3.connect(f"file:{source}?mode=ro", uri=True, timeout=0.05)
        return connection.execute(what).fetchone()[0]
    except sqlite3.Error:
        # The table may not exist yet, or the writer holds a lock for a moment.
        return -1


deadline = time.monotonic() + timeout
while time.monotonic() < deadline:
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        sys.exit(1)
    if current() >= at:
        os.kill(pid, signal.SIGKILL)
        sys.exit(0)
    if ready:
        open(ready, "w").close()
        ready = None
    time.sleep(0.002)
sys.exit(2)
