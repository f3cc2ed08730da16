"""quillon-cli serve at the protocol's level: raw lines in, raw answers out, on standard
input and output and on a Unix socket, against the camera simulator; and the protocol's
document against the server that answers it."""

from __future__ import annotations

import json
import os
import re
import shutil
import signal
import stat
import subprocess
import unittest
from pathlib import Path

from rpc import Connection, Server, sent_commands
from support import CamSim, TempDir, cli_path, definition_path

DOC = Path(__file__).resolve().parents[2] / "docs" / "serve-protocol.md"
MIB = 1 << 20


def good(id: int) -> bytes:
    """A request that needs no camera, to see that the connection still answers."""
    return b'{"jsonrpc":"2.0","id":%d,"method":"cancel"}\n' % id


def error_code(response: dict) -> int | None:
    return response.get("error", {}).get("code") if isinstance(response, dict) else None


class Fixture(unittest.TestCase):
    """A simulator and a server in a temporary folder holding the definition; ``log`` is the
    server's traffic log."""

    sim_options: tuple = ()
    server_options: tuple = ()
    socket = False

    def setUp(self) -> None:
        self.tmp = TempDir()
        self.addCleanup(self.tmp.cleanup)
        self.sim = CamSim(self.tmp.path, self.sim_options)
        self.addCleanup(self.sim.stop)
        shutil.copy(definition_path(), self.tmp.file("XC-100.xml"))
        self.log = self.tmp.file("traffic.log")
        self.server = Server(["--port", self.sim.port, "--definition", "XC-100.xml", "--gap", "0",
                              "--log", str(self.log), *self.server_options],
                             socket_path=self.tmp.file("serve.sock") if self.socket else None,
                             cwd=self.tmp.path)
        self.addCleanup(self.server.stop)

    def open(self, c: Connection) -> None:
        r = c.call("open")
        self.assertIn("result", r, r)


class StdioTest(Fixture):
    # raw line, expected code, expected id
    BAD_LINES = [
        (b"{not json", -32700, None),
        (b'{"jsonrpc":"2.0","id":1,"method":"ports"', -32700, None),
        (b"\xff\xfe{}", -32700, None),
        (b'{"jsonrpc":"2.0","id":2,"method":"get","params":{"names":["G\xe9"]}}', -32700, None),
        (b"42", -32600, None),
        (b'"ports"', -32600, None),
        (b"null", -32600, None),
        (b'{"jsonrpc":"1.0","id":3,"method":"ports"}', -32600, 3),
        (b'{"id":4,"method":"ports"}', -32600, 4),
        (b'{"jsonrpc":"2.0","id":5,"method":7}', -32600, 5),
        (b'{"jsonrpc":"2.0","id":5,"params":{}}', -32600, 5),
        (b'{"jsonrpc":"2.0","id":{"a":1},"method":"ports"}', -32600, None),
        (b'{"jsonrpc":"2.0","id":6,"method":"reboot"}', -32601, 6),
        (b'{"jsonrpc":"2.0","id":7,"method":"Ports"}', -32601, 7),
    ]

    # method, params: every one of -32602
    WRONG_PARAMS = [
        ("open", {"port": 5}), ("open", {"baud": "fast"}), ("open", {"definition": True}),
        ("open", {"timeout_ms": "1"}), ("open", {"gap_ms": [0]}), ("open", {"porte": "x"}),
        ("send", {}), ("send", {"commands": "gai"}), ("send", {"commands": [1]}),
        ("get", {"names": "Gain"}), ("get", {"names": [1]}),
        ("set", {}), ("set", {"values": ["Gain", 1]}),
        ("execute", {}), ("execute", {"name": 5}),
        ("execute", {"name": "SaveSettings", "confirm": "yes"}),
        ("describe", {"names": "Gain"}),
        ("load", {}), ("load", {"path": 5}), ("load", {"path": "a.txt", "verify": 1}),
        ("save", {}), ("save", {"path": "a.txt", "values": [1]}),
        ("check", {}), ("check", {"paths": "XC-100.xml"}),
        ("subscribe", {}), ("subscribe", {"events": "traffic"}),
        ("subscribe", {"events": ["weather"]}),
        ("identify", {"now": True}), ("close", {"now": True}), ("ports", {"all": True}),
        ("cancel", {"all": True}),
    ]

    def test_bad_line_is_answered_and_the_next_request_too(self) -> None:
        c = self.server.stdio
        for n, (line, code, id) in enumerate(self.BAD_LINES, 100):
            with self.subTest(line=line):
                c.write(line + b"\n" + good(n))
                r = c.response()
                self.assertEqual((error_code(r), r.get("id", "missing")), (code, id), r)
                self.assertEqual(c.response(), {"jsonrpc": "2.0", "id": n,
                                                "result": {"cancelled": False}})

    def test_line_over_one_mebibyte_is_refused_and_skipped(self) -> None:
        c = self.server.stdio
        self.open(c)
        before = sent_commands(self.log)
        head = b'{"jsonrpc":"2.0","id":1,"method":"send","params":{"commands":["gai '
        c.write(head + b"1" * (MIB + 16 - len(head)) + b'"]}}\n' + good(2))
        r = c.response()
        self.assertEqual((error_code(r), r["id"]), (-32600, None), r)
        self.assertEqual(c.response()["id"], 2)
        self.assertEqual(sent_commands(self.log), before)

    def test_wrong_parameter_types(self) -> None:
        c = self.server.stdio
        self.open(c)
        before = sent_commands(self.log)
        for method, params in self.WRONG_PARAMS:
            with self.subTest(method=method, params=params):
                self.assertEqual(error_code(c.call(method, params)), -32602)
        self.assertEqual(sent_commands(self.log), before)

    def test_batch(self) -> None:
        c = self.server.stdio
        c.write(b'[{"jsonrpc":"2.0","id":1,"method":"cancel"},'
                b'{"jsonrpc":"2.0","method":"cancel"},'
                b'{"jsonrpc":"2.0","id":2,"method":"nosuch"},5]\n')
        answers = c.response()
        self.assertIsInstance(answers, list)
        self.assertEqual({(a["id"], error_code(a)) for a in answers},
                         {(1, None), (2, -32601), (None, -32600)})
        self.assertEqual(len(answers), 3)
        c.write(b"[]\n")
        r = c.response()
        self.assertEqual((error_code(r), r["id"]), (-32600, None), r)

    def test_notifications_get_no_answer_not_even_an_error(self) -> None:
        c = self.server.stdio
        for n, line in enumerate((
                b'[{"jsonrpc":"2.0","method":"cancel"},{"jsonrpc":"2.0","method":"ports"}]',
                b'{"jsonrpc":"2.0","method":"nosuch"}',
                b'{"jsonrpc":"2.0","method":"get","params":{"names":5}}'), 3):
            with self.subTest(line=line):
                c.write(line + b"\n" + good(n))
                first = c.response()
                if first.get("id") != n:
                    c.response(n)
                self.assertEqual(first["id"], n, first)

    def test_end_of_input_completes_the_running_request_and_exits_0(self) -> None:
        c = self.server.stdio
        c.request("open", id=1)
        c.request("send", {"commands": ["gai 12"]}, id=2)
        self.server.end_input()
        self.assertIn("result", c.response(1))
        self.assertEqual(c.response(2)["result"]["transactions"][0]["replies"], ["gai 12"])
        self.assertEqual(self.server.wait(), 0)

    def test_signal_cancels_the_running_request_and_ends_with_its_status(self) -> None:
        mute = CamSim(self.tmp.path, ["--no-answer"], name="mute")
        self.addCleanup(mute.stop)
        for sig, status in ((signal.SIGTERM, 143), (signal.SIGINT, 130)):
            with self.subTest(sig=sig):
                server = Server(["--port", mute.port, "--timeout", "300"])
                self.addCleanup(server.stop)
                c = server.stdio
                self.assertIn("result", c.call("open"))
                c.call("subscribe", {"events": ["traffic"]})
                c.request("send", {"commands": ["gai 1"] * 200}, id=7)
                c.notification(lambda n: n["params"]["dir"] == ">>")
                server.process.send_signal(sig)
                r = c.response(7)
                self.assertEqual(error_code(r), 4, r)
                self.assertEqual(r["error"]["data"]["transactions"][-1]["result"], "cancelled")
                self.assertEqual(server.wait(), status)


class SocketTest(Fixture):
    socket = True
    sim_options = ("--delay", "500")  # room for a client to vanish while its request runs

    def test_socket_file_is_private_and_removed_at_exit(self) -> None:
        path = self.server.socket_path
        self.assertEqual(stat.S_IMODE(os.stat(path).st_mode), 0o600)
        self.assertEqual(self.server.stop(), 143)
        self.assertFalse(path.exists())

    def test_two_clients_interleaved_each_answered_once_in_order(self) -> None:
        a, b = self.server.connect(), self.server.connect()
        self.open(a)
        for i in range(5):
            a.request("send", {"commands": [f"gai {i}"]}, id=i)
            b.request("send", {"commands": [f"blk {2 * i}"]}, id=i)
        for c, word, scale in ((a, "gai", 1), (b, "blk", 2)):
            got = [c.response() for _ in range(5)]
            self.assertEqual([r["id"] for r in got], list(range(5)))
            self.assertEqual([r["result"]["transactions"][0]["replies"] for r in got],
                             [[f"{word} {scale * i}"] for i in range(5)])
            c.write(good(99))
            self.assertEqual(c.response()["id"], 99)  # nothing answered twice in between

    def test_client_vanishing_mid_request(self) -> None:
        a, b = self.server.connect(), self.server.connect()
        self.open(b)
        a.call("subscribe", {"events": ["traffic"]})
        a.request("send", {"commands": ["gai 5"]})
        a.request("send", {"commands": ["gai 6"]})
        a.notification(lambda n: n["method"] == "traffic" and n["params"]["dir"] == ">>")
        a.vanish()
        r = b.call("send", {"commands": ["gai 7"]})
        self.assertEqual(r["result"]["transactions"][0]["replies"], ["gai 7"])
        self.assertEqual(b.call("get", {"names": ["Gain"]})["result"]["values"], {"Gain": 7})
        self.assertEqual(sent_commands(self.log)[-2:], ["gai 5", "gai 7"])


class SlowCameraTest(Fixture):
    socket = True
    sim_options = ("--delay", "1000")
    server_options = ("--timeout", "20000")

    def test_requests_without_camera_answered_while_a_job_runs(self) -> None:
        a, b = self.server.connect(), self.server.connect()
        self.open(a)
        a.call("subscribe", {"events": ["traffic"]})
        # A minute of commands; cancelled below.
        a.request("send", {"commands": [f"gai {i}" for i in range(60)]}, id=1)
        a.notification(lambda n: n["method"] == "traffic" and n["params"]["dir"] == ">>")
        for method, params in (("get", {"names": ["Gain"]}), ("describe", {"names": ["Gain"]}),
                               ("ports", None), ("check", {"paths": ["XC-100.xml"]}),
                               ("subscribe", {"events": ["progress"]}),
                               ("cancel", None)):
            with self.subTest(method=method):
                self.assertIn("result", b.call(method, params))
        self.assertEqual(b.call("cancel")["result"], {"cancelled": False})
        self.assertTrue(a.silent(0.1))  # a's job still waits for the camera
        self.assertEqual(a.call("cancel")["result"], {"cancelled": True})
        r = a.response(1)
        self.assertEqual(error_code(r), 4, r)
        self.assertEqual(r["error"]["data"]["transactions"][-1]["result"], "cancelled")


def documented() -> tuple[list[str], dict[str, list[str]]]:
    """The methods the document names (its "### `name`" headings under Methods) and the
    exchange lines of each one's examples."""
    text = DOC.read_text(encoding="utf-8")
    methods_part = text.split("\n## Methods", 1)[1].split("\n## ", 1)[0]
    examples: dict[str, list[str]] = {}
    for name, body in re.findall(r"^### `([^`]+)`\n(.*?)(?=^### |\Z)", methods_part,
                                 re.S | re.M):
        blocks = re.findall(r"^```\n(.*?)^```", body, re.S | re.M)
        examples[name] = [line for b in blocks for line in b.splitlines()]
    return list(examples), examples


def shape_differences(doc, real, where="") -> list[str]:
    """Where ``real`` differs from the documented value in keys or JSON kinds (null fits
    anything; a list's items are compared with the documented first item)."""
    if doc is None or real is None:
        return []
    if isinstance(doc, dict):
        if not isinstance(real, dict) or set(doc) != set(real):
            return [f"{where}: {sorted(doc)} documented, {real!r} answered"]
        return [d for k in doc for d in shape_differences(doc[k], real[k], f"{where}.{k}")]
    if isinstance(doc, list):
        if not isinstance(real, list):
            return [f"{where}: a list documented, {real!r} answered"]
        return [d for item in real[:1] if doc for d in shape_differences(doc[0], item, where)]
    kind = lambda v: "bool" if isinstance(v, bool) else type(v).__name__.replace("int", "float")
    return [] if kind(doc) == kind(real) else [f"{where}: {doc!r} documented, {real!r} answered"]


class DocumentTest(Fixture):
    OTHER_NAMES = ["", "Open", "status", "shutdown", "rpc.discover", "progress", "traffic",
                   "port_lost", "port_returned", "get ", "notify"]

    def test_documented_methods_are_the_served_ones(self) -> None:
        names, _ = documented()
        self.assertGreaterEqual(len(names), 14)
        c = self.server.stdio
        for name in names:
            with self.subTest(documented=name):
                self.assertNotEqual(error_code(c.call(name, {"paths": []})), -32601)
        # Names a method would likely have: quillon-cli's commands, the others' opposites.
        help = subprocess.run([str(cli_path()), "--help"], capture_output=True, text=True).stdout
        commands = re.findall(r"^  (\w+) ", help.split("Subcommands:")[1], re.M)
        self.assertIn("send", commands)
        likely = set(commands) | {"un" + n for n in names} | set(self.OTHER_NAMES)
        for name in sorted(likely - set(names)):
            with self.subTest(undocumented=name):
                self.assertEqual(error_code(c.call(name)), -32601)

    def test_examples_have_the_documented_shape(self) -> None:
        self.tmp.file("settings.txt").write_bytes(b"gai 120\r\nblk 4\r\n")
        c = self.server.stdio
        _, examples = documented()
        for method, lines in examples.items():
            with self.subTest(method=method):
                self.open(c)
                c.call("subscribe", {"events": []})
                c.notifications.clear()
                self.assertTrue(lines, "no example")
                expected = {}
                for line in lines:
                    arrow, message = line[:2], json.loads(line[3:])
                    if arrow == "->":
                        params = message.get("params", {})
                        if "port" in params:
                            params["port"] = self.sim.port
                        c.write(json.dumps(message).encode() + b"\n")
                        expected[message["id"]] = None
                    elif "id" in message:
                        expected[message["id"]] = message
                for id, want in expected.items():
                    got = c.response(id)
                    if "error" in want:
                        self.assertEqual(error_code(got), want["error"]["code"], got)
                    else:
                        self.assertEqual(shape_differences(want, got), [])
                for line in lines:
                    message = json.loads(line[3:])
                    if line.startswith("<-") and "id" not in message:
                        c.notification(lambda n: n["method"] == message["method"]
                                       and not shape_differences(message, n))


if __name__ == "__main__":
    unittest.main()
