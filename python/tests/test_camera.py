"""The package against the real quillon-cli serve and the camera simulator."""

from __future__ import annotations

import os
import signal
import subprocess
import threading
import unittest
from typing import Any, Callable, List

import quillon
import support


class Events:
    """Notifications collected from the reader thread."""

    def __init__(self) -> None:
        self.items: List[Any] = []
        self._lock = threading.Lock()

    def __call__(self, event: Any) -> None:
        with self._lock:
            self.items.append(event)

    def wait(self, condition: Callable[[List[Any]], bool]) -> bool:
        def check() -> bool:
            with self._lock:
                return condition(list(self.items))
        return support.wait_until(check)


class CameraTest(unittest.TestCase):
    def setUp(self) -> None:
        self.dir = support.TempDir()
        self.addCleanup(self.dir.cleanup)

    def camsim(self, *options: str, name: str = "") -> support.CamSim:
        """A simulator on a link of its own (or on the link ``name``)."""
        self.sims = getattr(self, "sims", 0) + 1
        sim = support.CamSim(self.dir.path, options, name=name or f"cam{self.sims}")
        self.addCleanup(sim.stop)
        return sim

    def open(self, *camsim_options: str, **kw: Any) -> quillon.Camera:
        """A simulator and a camera opened on it with the sample definition."""
        kw.setdefault("port", self.camsim(*camsim_options).port)
        kw.setdefault("definition", support.definition_path())
        cam = quillon.open(cli=support.cli_path(), **kw)
        self.addCleanup(cam.close)
        return cam

    def test_properties_round_trip(self) -> None:
        cam = self.open()
        self.assertEqual(cam.identify().model, "XC-100")
        (report,) = cam.send("gai 12")
        self.assertEqual((report.command, report.result, report.reply_code),
                         ("gai 12", "ok", "OK"))
        self.assertEqual(cam["Gain"], 12)
        reports = cam.set({"TestPattern": 1}, Gain=120, LineTime=100)
        self.assertEqual([r.result for r in reports], ["ok"] * 3)
        self.assertEqual(reports.values["Gain"], 120)
        self.assertEqual(reports.values["FramePeriod"], 22000)  # recalculated
        cam["Binning"] = True
        values = cam.get()
        self.assertEqual((values["TestPattern"], values["ImageWidth"]), ("Gray ramp", 1224))
        self.assertNotIn("SaveSettings", values)  # an Execution has no value
        (gain,) = cam.describe("Gain")
        self.assertEqual((gain.type, gain.min, gain.max, gain.titles["en"]),
                         ("Integer", 0, 240, "Gain"))
        self.assertIn("SaveSettings", [p.name for p in cam.describe()])

    def test_watch_gives_rounds_between_requests_until_closed(self) -> None:
        cam = self.open("--drift", "SensorTemperature=0.5")
        with cam.watch("SensorTemperature", "Gain", every=0.1, run="ReadTemperature") as rounds:
            first = rounds.next(timeout=30)
            cam.set(Gain=7)  # a request between the rounds
            later = next(r for r in rounds if r.values.get("Gain") == 7)
        self.assertTrue(first.ok and later.ok)
        self.assertGreater(later.values["SensorTemperature"], first.values["SensorTemperature"])
        self.assertEqual(list(rounds), [])  # closed: the iteration ends
        with self.assertRaises(quillon.UsageError):
            cam.watch("Gain", every=0.01)

    def test_execute_asks_for_confirmation(self) -> None:
        cam = self.open()
        self.assertEqual([t.command for t in cam.execute("ReadTemperature")], ["tmp"])
        self.assertIsInstance(cam["SensorTemperature"], float)
        with self.assertRaises(quillon.UsageError) as raised:
            cam.execute("SaveSettings")
        self.assertIn("flash memory", raised.exception.data["prompt"]["en"])
        self.assertEqual([t.command for t in cam.execute("SaveSettings", confirm=True)],
                         ["sav"])

    def test_save_load_with_progress_and_check(self) -> None:
        cam = self.open()
        path = self.dir.file("settings.txt")
        saved = cam.save(path, Gain=33, BlackLevel=-4)
        self.assertEqual(saved.path, str(path))
        self.assertEqual(cam["Gain"], 0)  # the file only
        progress, traffic = Events(), Events()
        cam.on("traffic", traffic)
        result = cam.load(path, verify=True, progress=progress)
        self.assertEqual((result.outcome, result.sent), ("all_sent", result.total))
        # One notification per line sent (the file's line, after its 7 header lines) and one
        # at the end, all before the answer.
        self.assertEqual([(p.line, p.done) for p in progress.items],
                         [(n + 7, n - 1) for n in range(1, result.total + 1)] +
                         [(result.total + 7, result.total)])
        self.assertEqual(cam.get("Gain", "BlackLevel"), {"Gain": 33, "BlackLevel": -4})
        self.assertTrue(traffic.wait(lambda t: any(e.dir == ">>" and "gai 33" in e.text
                                                   for e in t)))
        self.assertEqual(cam.check(support.definition_path()), [])
        ports = cam.ports()
        self.assertIn("COM port(Build In)", [i.name for i in ports.interfaces])

    def test_errors(self) -> None:
        wrong_gain = self.dir.file("wrong.txt")
        wrong_gain.write_text("gai 200\n")
        no_file = self.dir.file("none.txt")
        cases = [
            # (camsim options, open arguments, request, class, check of the error)
            ((), {}, lambda c: c.set(Nope=1), quillon.UsageError,
             lambda e: self.assertIn("Nope", e.message)),
            ((), {}, lambda c: c.set(Gain=300), quillon.UsageError,
             lambda e: self.assertEqual((e.data["min"], e.data["max"]), (0, 240))),
            ((), {}, lambda c: c.load(no_file), quillon.FileError, None),
            (("--no-answer",), {"timeout_ms": 200}, lambda c: c.send("sta"),
             quillon.TransactionError,
             lambda e: self.assertEqual(e.transactions[0].result, "timeout")),
            ((), {}, lambda c: c.send("what", "sta"), quillon.ReplyCodeError,
             lambda e: self.assertEqual([(t.result, t.reply_code) for t in e.transactions],
                                        [("reply_code", "CMD ERR!")])),
            (("--clamp", "Gain=100"), {}, lambda c: c.load(wrong_gain, verify=True),
             quillon.VerifyError,
             lambda e: self.assertEqual((e.mismatches[0].line, e.mismatches[0].command),
                                        (1, "gai 200"))),
            ((), {}, lambda c: c._call("no_such_method"), quillon.ProtocolError,
             lambda e: self.assertEqual(e.code, -32601)),
        ]
        for options, kw, request, cls, check in cases:
            with self.subTest(cls=cls.__name__, options=options):
                cam = self.open(*options, **kw)
                with self.assertRaises(cls) as raised:
                    request(cam)
                if check:
                    check(raised.exception)
                cam.close()

    def test_a_port_that_cannot_be_opened(self) -> None:
        with self.assertRaises(quillon.PortError):
            quillon.open(str(self.dir.file("none")), cli=support.cli_path())

    # "open" asks "sta" with the port's time-out: a camera that never answers is opened with
    # a short one, then opened again with a long one by the request under test.
    def test_cancel_from_another_thread(self) -> None:
        cam = self.open("--no-answer", timeout_ms=300)
        traffic = Events()
        cam.on("traffic", traffic)
        raised: List[BaseException] = []
        worker = threading.Thread(target=self._record,
                                  args=(raised, lambda: cam.open(timeout_ms=120000)))
        worker.start()
        self.assertTrue(traffic.wait(lambda t: any("sta" in e.text for e in t)))
        self.assertTrue(cam.cancel())
        worker.join(support.DEADLINE_S)
        self.assertIsInstance(raised[0], quillon.TransactionError)
        self.assertEqual(raised[0].transactions[-1].result, "cancelled")
        self.assertFalse(cam.cancel())

    def test_a_server_that_dies_ends_every_wait(self) -> None:
        cam = self.open("--no-answer", timeout_ms=300)
        traffic = Events()
        cam.on("traffic", traffic)
        raised: List[BaseException] = []
        workers = [threading.Thread(target=self._record, args=(raised, call)) for call in
                   (lambda: cam.open(timeout_ms=120000), cam.identify)]
        for w in workers:
            w.start()
        self.assertTrue(traffic.wait(lambda t: any("sta" in e.text for e in t)))
        cam._conn.process.kill()  # type: ignore[attr-defined]
        for w in workers:
            w.join(support.DEADLINE_S)
        self.assertEqual([type(e) for e in raised], [quillon.ServerGoneError] * 2)
        self.assertRaises(quillon.ServerGoneError, cam.identify)
        self.assertFalse(cam.connected)

    @staticmethod
    def _record(into: List[BaseException], call: Callable[[], Any]) -> None:
        try:
            call()
        except quillon.QuillonError as e:
            into.append(e)

    def test_vanish_and_return(self) -> None:
        sim = self.camsim()
        cam = self.open(port=sim.port)
        lost, returned = Events(), Events()
        cam.on("port_lost", lost)
        cam.on("port_returned", returned)
        sim.stop()
        self.assertTrue(lost.wait(lambda e: len(e) == 1))
        self.assertEqual(lost.items[0].device, sim.port)
        self.camsim(name=sim.link.name)  # a new simulator on the same link
        self.assertTrue(returned.wait(lambda e: len(e) == 1))
        self.assertEqual(returned.items[0].identity.model, "XC-100")
        self.assertEqual(cam.identify().model, "XC-100")

    def test_two_clients_on_a_socket(self) -> None:
        sim = self.camsim()
        path = self.dir.file("serve.sock")
        server = subprocess.Popen(
            [str(support.cli_path()), "--port", sim.port, "--definition",
             str(support.definition_path()), "serve", "--socket", str(path)])
        self.addCleanup(lambda: server.poll() is None and server.kill())
        self.assertTrue(support.wait_until(path.exists))
        self.assertEqual(os.stat(path).st_mode & 0o777, 0o600)
        with quillon.connect(path) as a, quillon.connect(path) as b:
            self.assertEqual(a.open().identity.model, "XC-100")
            b.set(Gain=77)
            self.assertEqual(a["Gain"], 77)
            results: List[Any] = []
            threads = [threading.Thread(target=lambda c=c, v=v: results.append(c.set(Gain=v)))
                       for c, v in ((a, 1), (b, 2), (a, 3), (b, 4))]
            for t in threads:
                t.start()
            for t in threads:
                t.join(support.DEADLINE_S)
            self.assertEqual(len(results), 4)
            self.assertIn(a["Gain"], (1, 2, 3, 4))
            last = a["Gain"]
        with quillon.connect(path) as c:  # the port stays open when clients leave
            self.assertEqual(c["Gain"], last)
            self.assertEqual(c.identify().model, "XC-100")
        server.send_signal(signal.SIGTERM)
        self.assertEqual(server.wait(support.DEADLINE_S), 128 + signal.SIGTERM)
        self.assertFalse(path.exists())
        self.assertRaises(quillon.ServerGoneError, quillon.connect, path)

    def test_attach_finds_the_window_of_an_instance(self) -> None:
        # A serve on the window's path stands in for the window (the window itself is tested
        # with its socket in the window's own tests).
        sim = self.camsim()
        runtime = self.dir.file("runtime")
        (runtime / "quillon").mkdir(parents=True, mode=0o700)
        path = runtime / "quillon" / "Quillon_03.sock"
        server = subprocess.Popen(
            [str(support.cli_path()), "--port", sim.port, "--definition",
             str(support.definition_path()), "serve", "--socket", str(path)])
        self.addCleanup(lambda: server.poll() is None and server.kill())
        self.assertTrue(support.wait_until(path.exists))
        saved = os.environ.get("XDG_RUNTIME_DIR")
        os.environ["XDG_RUNTIME_DIR"] = str(runtime)
        try:
            self.assertEqual(quillon.window_socket(3), str(path))
            with quillon.attach(3) as cam:
                self.assertEqual(cam.open().identity.model, "XC-100")
            self.assertRaises(quillon.ServerGoneError, quillon.attach, 4)
        finally:
            if saved is None:
                del os.environ["XDG_RUNTIME_DIR"]
            else:
                os.environ["XDG_RUNTIME_DIR"] = saved
        support.terminate(server)


if __name__ == "__main__":
    unittest.main()
