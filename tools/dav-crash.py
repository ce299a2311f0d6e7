#!/usr/bin/env python3
"""Kills dav-serve with SIGKILL at random moments while it moves or copies a folder onto an existing
folder, restarts it, and checks that each of source and destination is wholly old or wholly new and that
the restart left no scratch item. Everything runs on 127.0.0.1 in a temporary folder.

    tools/dav-crash.py [--files N] [--kills K] [PATH-TO-dav-serve]

Defaults: 50,000 files a tree, 20 kills (the test command runs 2,000 and 5)."""

import argparse
import http.client
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

SCRATCH_PREFIX = ".dav-tmp-"
FILES_PER_FOLDER = 100


def make_tree(path, files, tag):
    """A tree of `files` files in folders of FILES_PER_FOLDER, each holding `tag`."""
    shutil.rmtree(path, ignore_errors=True)
    for index in range(files):
        folder = os.path.join(path, "f%04d" % (index // FILES_PER_FOLDER))
        if index % FILES_PER_FOLDER == 0:
            os.makedirs(folder)
        with open(os.path.join(folder, "%06d.txt" % index), "w") as out:
            out.write(tag)


def state_of(path, files):
    """'absent', the one tag every file holds when the tree is whole, or 'mixed'."""
    if not os.path.lexists(path):
        return "absent"
    tags = {}
    count = 0
    for folder, _, names in os.walk(path):
        for name in names:
            with open(os.path.join(folder, name)) as source:
                tag = source.read()
            tags[tag] = tags.get(tag, 0) + 1
            count += 1
    if count == files and len(tags) == 1:
        return next(iter(tags))
    return "mixed (%d files: %s)" % (count, ", ".join("%d of %s" % (n, t) for t, n in sorted(tags.items())))


def reset(source, destination, files):
    """Both trees as they were before a round, making again only what the last round changed."""
    if not os.path.lexists(source) and state_of(destination, files) == "old source":
        os.rename(destination, source)  # a finished move: the tree only changed its name
    if state_of(source, files) != "old source":
        make_tree(source, files, "old source")
    if state_of(destination, files) != "old destination":
        make_tree(destination, files, "old destination")


class Server:
    def __init__(self, program, folder):
        self.process = subprocess.Popen([program, folder, "0"], stdout=subprocess.PIPE, text=True)
        line = self.process.stdout.readline()
        found = re.search(r"listening on 127\.0\.0\.1:(\d+)", line)
        if not found:
            raise RuntimeError("dav-serve did not start: %r" % line)
        self.port = int(found.group(1))

    def kill(self):
        self.process.send_signal(signal.SIGKILL)
        self.process.wait()

    def stop(self):
        self.process.terminate()
        self.process.wait()


def send(port, method, source, destination):
    """Sends the request and waits for its answer; a server killed meanwhile ends it."""
    try:
        connection = http.client.HTTPConnection("127.0.0.1", port, timeout=600)
        connection.request(method, source, headers={"Destination": "http://127.0.0.1:%d%s" % (port, destination),
                                                    "Overwrite": "T"})
        return connection.getresponse().status
    except (OSError, http.client.HTTPException):
        return None


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("serve", nargs="?", default="build/tools/dav-serve/dav-serve")
    parser.add_argument("--files", type=int, default=50000)
    parser.add_argument("--kills", type=int, default=20)
    options = parser.parse_args()
    root = tempfile.mkdtemp(prefix="dav-crash-")
    source, destination = os.path.join(root, "src"), os.path.join(root, "dst")
    failures = 0
    outcomes = {}
    try:
        # One of each to the end, the old tree's removal included, tells how long they take, so the
        # kills land inside them.
        spans = {}
        for method, expected in (("MOVE", 204), ("COPY", 204)):
            make_tree(source, options.files, "old source")
            make_tree(destination, options.files, "old destination")
            server = Server(options.serve, root)
            began = time.monotonic()
            status = send(server.port, method, "/src", "/dst")
            while any(name.startswith(SCRATCH_PREFIX) for name in os.listdir(root)):
                time.sleep(0.001)
            spans[method] = time.monotonic() - began
            server.stop()
            if status != expected or state_of(destination, options.files) != "old source":
                print("FAIL: an uninterrupted %s answered %s" % (method, status))
                return 1
            print("an uninterrupted %s of %d files took %.2f s" % (method, options.files, spans[method]))
        for round in range(options.kills):
            method = "MOVE" if round % 2 == 0 else "COPY"
            reset(source, destination, options.files)
            server = Server(options.serve, root)
            answer = threading.Thread(target=send, args=(server.port, method, "/src", "/dst"))
            answer.start()
            time.sleep(random.uniform(0, spans[method]))
            server.kill()
            answer.join()
            Server(options.serve, root).stop()  # the restart settles what the kill left
            states = (state_of(source, options.files), state_of(destination, options.files))
            scratch = [name for name in os.listdir(root) if name.startswith(SCRATCH_PREFIX)]
            allowed = {("old source", "old destination"), ("old source", "old source")}
            if method == "MOVE":
                allowed = {("old source", "old destination"), ("absent", "old source")}
            ok = states in allowed and not scratch
            failures += 0 if ok else 1
            outcome = "new" if states[1] == "old source" else "old"
            outcomes[outcome] = outcomes.get(outcome, 0) + 1
            print("%s kill %d: source %s, destination %s, scratch items left %d: %s"
                  % (method, round + 1, states[0], states[1], len(scratch), "ok" if ok else "FAIL"))
    finally:
        shutil.rmtree(root, ignore_errors=True)
    print("%d files, %d kills: %d wholly old, %d wholly new, %d mixed or with scratch left"
          % (options.files, options.kills, outcomes.get("old", 0), outcomes.get("new", 0), failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
