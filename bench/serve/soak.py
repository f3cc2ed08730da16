#!/usr/bin/env python3
"""Soak of quillon-cli serve: REQUESTS requests (mostly `send`, some `set` and `get`) over
the raw protocol against the camera simulator, restarted with another fault set every segment
(garbage, noise, drop mid-reply, delays, chunks, none) and made to vanish and return every
VANISH_EVERY requests, with requests sent while it is away.

Checks: every request is answered exactly once (a result or an error, never none, never two,
never another id); the server's resident memory grows less than 2 MiB from the end of the
first VANISH_EVERY requests to the end; its open descriptors are the same at every return;
port_lost comes when the simulator goes and only then (a simulator that ended unasked, as
another program on a shared machine may end it, is counted and started again).
Exits 1 on a violation, printing each one.

    /usr/bin/python3 bench/serve/soak.py [--build DIR] [--requests 100000] [--vanish-every 10000]
"""
from __future__ import annotations

import argparse
import collections
import os
import re
import shutil
import sys
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
ROOT = HERE.parents[1]
sys.path.insert(0, str(ROOT / "python" / "tests"))

from rpc import Connection, Server  # noqa: E402
from support import CamSim, TempDir, definition_path, wait_until  # noqa: E402

# camsim options of each segment, in turn; a drop mid-reply costs a receive time-out per
# request, so its segment is a tenth as long.
FAULTS = [
    ((), 1), (("--garbage", "64"), 1), (("--noise", "4"), 1), (("--delay", "3"), 1),
    (("--chunk", "5", "--chunk-gap", "1"), 1), (("--drop-mid-reply",), 0.1),
    (("--echo",), 1), (("--garbage", "7", "--noise", "1"), 1),
]
TIMEOUT_MS = 60


def status_kib(pid: int, key: str) -> int:
    for line in Path(f"/proc/{pid}/status").read_text().splitlines():
        if line.startswith(key + ":"):
            return int(line.split()[1])
    raise KeyError(key)


def descriptors(pid: int) -> list[str]:
    folder = f"/proc/{pid}/fd"
    out = []
    for fd in os.listdir(folder):
        try:
            target = os.readlink(f"{folder}/{fd}")
        except OSError:
            continue
        # A terminal's number changes with each new simulator; its kind does not.
        out.append("/dev/pts/N" if target.startswith("/dev/pts/") else target)
    return sorted(out)


class Soak:
    def __init__(self, tmp: Path, requests: int, vanish_every: int,
                 memory_limit_kib: int = 2048) -> None:
        self.tmp, self.requests, self.vanish_every = tmp, requests, vanish_every
        self.memory_limit_kib = memory_limit_kib
        self.segment = max(10, vanish_every // 10)
        self.violations: list[str] = []
        self.answered = {"result": 0, "error": 0}
        self.errors: collections.Counter = collections.Counter()  # (faults, code, message)
        self.faults: tuple = ()
        self.outside_ends = 0  # the simulator ended without being asked
        self.next_id = 0
        shutil.copy(definition_path(), tmp / "XC-100.xml")
        self.sim = CamSim(tmp, name="cam")
        self.server = Server(["--port", self.sim.port, "--definition", str(tmp / "XC-100.xml"),
                              "--timeout", str(TIMEOUT_MS), "--gap", "0"], cwd=tmp)
        self.c: Connection = self.server.stdio
        self.request("open")
        self.request("subscribe", {"events": ["port"]})

    def violation(self, text: str) -> None:
        text = f"{text} (request {self.next_id}, simulator {' '.join(self.faults) or 'plain'})"
        self.violations.append(text)
        print("VIOLATION:", text, flush=True)

    def request(self, method: str, params: object = None) -> dict | None:
        """One request and its one answer; anything else that is not a notification is a
        violation."""
        self.next_id += 1
        id = self.next_id
        self.c.request(method, params, id=id)
        while True:
            try:
                r = self.c.response()
            except (TimeoutError, EOFError) as e:
                self.violation(f"request {id} ({method}) never answered: {e}")
                return None
            if isinstance(r, dict) and r.get("id") == id and ("result" in r) != ("error" in r):
                self.answered["result" if "result" in r else "error"] += 1
                if "error" in r:
                    message = re.sub(r"\d+|/\S+", "N", r["error"].get("message", ""))
                    self.errors[(" ".join(self.faults), r["error"].get("code"), message)] += 1
                return r
            self.violation(f"request {id} ({method}): unexpected line {str(r)[:200]}")

    def one(self, i: int) -> None:
        kind = i % 20
        if kind == 7:
            self.request("get", {"names": ["Gain", "TestPattern"]})
        elif kind == 13:
            self.request("set", {"values": {"Gain": i % 241, "TestPattern": i % 4}})
        else:
            self.request("send", {"commands": [f"gai {i % 241}"]})

    def simulator_went(self) -> None:
        """A port_lost while the simulator should run: right if the simulator really ended
        (on a shared machine another program may end it), then it is started again; a
        violation if it still runs."""
        if not wait_until(lambda: self.sim.process.poll() is not None, 10):
            self.violation("port_lost while the simulator runs")
            return
        self.outside_ends += 1
        print(f"note: the simulator ended by itself or from outside (status "
              f"{self.sim.process.returncode}) at request {self.next_id}", flush=True)
        returned = self.count("port_returned")
        self.sim.stop()
        self.sim = CamSim(self.tmp, self.faults, name="cam")
        try:
            self.c.notification(lambda n: self.count("port_returned") > returned)
        except TimeoutError:
            self.violation("no port_returned after the simulator came back")

    def count(self, method: str) -> int:
        return sum(n["method"] == method for n in self.c.notifications)

    def restart_sim(self, faults: tuple, requests_while_away: int) -> None:
        """Stops the simulator, answers requests while it is away, starts it again with
        ``faults`` and waits until the server has the port back."""
        lost, returned = self.count("port_lost"), self.count("port_returned")
        self.sim.stop()
        try:
            self.c.notification(lambda n: self.count("port_lost") > lost)
        except TimeoutError:
            self.violation("no port_lost after the simulator went away")
        for _ in range(requests_while_away):
            self.request("send", {"commands": ["gai 1"]})
        self.sim = CamSim(self.tmp, faults, name="cam")
        self.faults = faults
        try:
            self.c.notification(lambda n: self.count("port_returned") > returned)
        except TimeoutError:
            self.violation("no port_returned after the simulator came back")
            self.request("open")

    def run(self) -> int:
        pid = self.server.pid
        rss_start = fds = None
        t0 = time.monotonic()
        i = segment_index = 0
        segment_end = self.segment
        while i < self.requests:
            lost = self.count("port_lost")
            self.one(i)
            if self.count("port_lost") != lost:
                self.simulator_went()
            i += 1
            if i == self.vanish_every:
                rss_start = status_kib(pid, "VmRSS")
            if i % self.vanish_every == 0 or i >= segment_end:
                segment_index += 1
                faults, share = FAULTS[segment_index % len(FAULTS)]
                segment_end = i + max(1, int(self.segment * share))
                vanish = i % self.vanish_every == 0
                self.restart_sim(faults, 5 if vanish else 0)
                if vanish:
                    self.request("identify")
                    now = descriptors(pid)
                    if fds is not None and now != fds:
                        self.violation(f"descriptors after {i}: {now}, before: {fds}")
                    fds = now
                    print(f"{i:7d} requests, {time.monotonic() - t0:7.1f} s, "
                          f"VmRSS {status_kib(pid, 'VmRSS')} KiB, {len(now)} descriptors, "
                          f"{self.answered['error']} errors so far", flush=True)
        rss_end = status_kib(pid, "VmRSS")
        self.request("close")
        self.server.end_input()
        while (item := self.c.next()) is not None:
            if not (isinstance(item, dict) and "method" in item and "id" not in item):
                self.violation(f"a line after the last answer: {str(item)[:200]}")
        status = self.server.wait()
        if status != 0:
            self.violation(f"server exit status {status} at end of input")
        self.sim.stop()
        growth = rss_end - (rss_start or rss_end)
        if self.memory_limit_kib and growth >= self.memory_limit_kib:
            self.violation(f"VmRSS grew {growth} KiB after the first {self.vanish_every}")
        load = " ".join(Path("/proc/loadavg").read_text().split()[:3])
        print(f"{self.next_id} requests ({self.answered['result']} results, "
              f"{self.answered['error']} errors) in {time.monotonic() - t0:.1f} s; "
              f"VmRSS {rss_start} -> {rss_end} KiB (growth {growth} KiB), "
              f"{len(fds or [])} descriptors; load average {load}; the simulator ended "
              f"unasked {self.outside_ends} times")
        print("errors by simulator faults, code and message:")
        for (faults, code, message), n in sorted(self.errors.items()):
            print(f"  {n:6d}  {faults or 'plain':24} {code:3d} {message[:90]}")
        return 1 if self.violations else 0


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", type=Path, default=None)
    parser.add_argument("--requests", type=int, default=100000)
    parser.add_argument("--vanish-every", type=int, default=10000)
    parser.add_argument("--memory-limit-kib", type=int, default=2048,
                        help="the server's VmRSS growth after the first segment that counts as "
                             "a violation (0: not checked; a sanitizer's own memory grows)")
    args = parser.parse_args()
    if args.build:
        os.environ["QUILLON_BIN_DIR"] = str(args.build.resolve() / "bin")
    with TempDir() as tmp:
        soak = Soak(tmp.path, args.requests, args.vanish_every, args.memory_limit_kib)
        try:
            return soak.run()
        finally:
            soak.server.stop()
            soak.sim.stop()


if __name__ == "__main__":
    sys.exit(main())
