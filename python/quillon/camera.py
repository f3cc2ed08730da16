"""The camera as a script sees it: ``open`` starts ``quillon-cli serve`` for it, ``connect``
joins a server other programs share, and :class:`Camera` sends the requests.
"""

from __future__ import annotations

import os
import queue
import shutil
import threading
from pathlib import Path
from typing import Any, Callable, Dict, Iterator, List, Mapping, Optional, Union

from ._connection import END_OF_NOTIFICATIONS, Connection, ProcessConnection, SocketConnection
from .errors import FileError, ServerGoneError
from .reports import (NOTIFICATIONS, Identity, LoadResult, OpenInfo, Ports, Problem,
                      Property, Progress, Round, SaveResult, SetReports, Transaction, Value)

PathLike = Union[str, "os.PathLike[str]"]
Callback = Callable[[Any], None]

#: The events ``Camera.on`` takes, and the subscription of the protocol each needs.
EVENTS = {"progress": "progress", "traffic": "traffic", "port_lost": "port",
          "port_returned": "port"}


def find_cli(cli: Optional[PathLike] = None) -> str:
    """The quillon-cli to start: ``cli``; else the environment's QUILLON_CLI; else, when
    this package is imported from Quillon's source tree, the build's ``build/bin/quillon-cli``;
    else ``quillon-cli`` on the PATH. Raises FileError when there is none."""
    if cli is not None:
        return os.fspath(cli)
    env = os.environ.get("QUILLON_CLI")
    if env:
        return env
    source = Path(__file__).resolve().parent.parent.parent
    built = source / "build" / "bin" / "quillon-cli"
    if (source / "python" / "quillon").is_dir() and os.access(built, os.X_OK):
        return str(built)
    found = shutil.which("quillon-cli")
    if found:
        return found
    raise FileError(2, "quillon-cli was not found: pass cli=, set QUILLON_CLI or put it on "
                       "the PATH")


def _path(path: PathLike) -> str:
    # The server may run in another folder: it gets absolute paths.
    return os.path.abspath(os.fspath(path))


class Camera:
    """One camera held open by a ``quillon-cli serve``.

    Made by :func:`open` (a server of its own, ended by :meth:`close`) or :func:`connect`
    (a shared server; :meth:`close` only leaves it). Use it as a context manager.

    Requests may come from several threads; one connection's requests run in order and
    the server runs one camera job at a time, so a request waits its turn. A request waits
    for its answer as long as the server takes (each transaction is bounded by the port's
    time-out, ``timeout_ms``); :meth:`cancel` from another thread ends the running one, and
    a server that goes away ends every wait at once with ServerGoneError.

    Callbacks given to :meth:`on` and ``load(progress=...)`` run on the connection's reader
    thread, one at a time and in the order the server sent them: keep them short, and do
    not call this camera's methods from them (that raises RuntimeError; hand the work to
    another thread). An exception in a callback is logged (logger "quillon") and dropped.
    """

    def __init__(self, connection_factory: Callable[[Callable[[str, Dict[str, Any]], None]],
                                                     Connection]) -> None:
        self._callbacks: Dict[str, List[Callback]] = {e: [] for e in EVENTS}
        self._cb_lock = threading.Lock()  # the callbacks; never held across a request
        self._sub_lock = threading.Lock()  # the subscription sent
        self._subscribed: List[str] = []
        self._closed = False
        self._watches: Dict[int, "Watch"] = {}
        self._pending_watches: List["Watch"] = []
        self._early_rounds: Dict[int, List[Round]] = {}
        self._conn = connection_factory(self._notify)

    # ---- life

    def open(self, port: Optional[str] = None, *, definition: Optional[PathLike] = None,
             interface: Optional[str] = None, baud: Optional[int] = None,
             timeout_ms: Optional[int] = None, gap_ms: Optional[int] = None) -> OpenInfo:
        """Open the port (closing an open one first). Omitted arguments take the server's
        defaults (its command-line options). ``definition`` is a path or "auto"."""
        params: Dict[str, Any] = {}
        for key, value in (("port", port), ("interface", interface), ("baud", baud),
                           ("timeout_ms", timeout_ms), ("gap_ms", gap_ms)):
            if value is not None:
                params[key] = value
        if definition is not None:
            d = os.fspath(definition)
            params["definition"] = d if d == "auto" else _path(d)
        return OpenInfo.from_json(self._call("open", params))

    def close_port(self) -> None:
        """Close the port; the server stays (another ``open`` may follow)."""
        self._call("close")

    def close(self) -> None:
        """End this camera. With :func:`open`: the server's input is closed, its running
        request completes, the port closes and it exits (after 60 s it is terminated). With
        :func:`connect`: this client leaves; the port stays open for the others.
        A second call does nothing."""
        if self._closed:
            return
        self._closed = True
        self._conn.close()
        self._end_watches()

    def __enter__(self) -> "Camera":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    @property
    def connected(self) -> bool:
        """False once the server went away or the camera was closed."""
        return not self._closed and self._conn.alive()

    # ---- requests

    def _call(self, method: str, params: Optional[Dict[str, Any]] = None) -> Any:
        if self._closed:
            raise ServerGoneError("the camera was closed")
        return self._conn.call(method, params)

    def identify(self) -> Identity:
        """Send "sta": the camera's model, type, version and serial."""
        return Identity.from_json(self._call("identify"))

    def send(self, *commands: str) -> List[Transaction]:
        """Send console commands in order, as typed; their reports. The first failure raises
        (TransactionError, ReplyCodeError) with the reports so far in ``transactions``."""
        result = self._call("send", {"commands": list(commands)})
        return [Transaction.from_json(t) for t in result["transactions"]]

    def get(self, *names: str) -> Dict[str, Value]:
        """Values of the named properties (all without names) as the camera's replies left
        them; nothing is sent. Selections give the entry's text."""
        params = {"names": list(names)} if names else {}
        return dict(self._call("get", params)["values"])

    def __getitem__(self, name: str) -> Value:
        """``cam["Gain"]``: one value, as :meth:`get`."""
        return self.get(name)[name]

    def set(self, values: Optional[Mapping[str, Value]] = None, **named: Value) -> SetReports:
        """Edit properties as the window commits them: ``cam.set(Gain=120, TestPattern="Off")``.
        Names that are not Python identifiers (or the name "values") go in ``values``:
        ``cam.set({"Gain": 1})`` or ``cam.set(values={"Gain": 1})``; both may be mixed.
        Every value is checked before anything is sent (UsageError, with the range in
        ``data``). A Selection takes an entry's text or number. Returns the transaction
        reports (a list) with ``.values``: every value the replies carried."""
        merged: Dict[str, Value] = dict(values or {})
        merged.update(named)
        result = self._call("set", {"values": merged})
        return SetReports([Transaction.from_json(t) for t in result["transactions"]],
                          dict(result.get("values") or {}))

    def __setitem__(self, name: str, value: Value) -> None:
        """``cam["Gain"] = 120``: as :meth:`set`."""
        self.set({name: value})

    def execute(self, name: str, confirm: bool = False) -> List[Transaction]:
        """Run an Execution property. One with a prompt runs only with ``confirm=True``;
        otherwise UsageError with the prompt's texts in ``data["prompt"]``."""
        params: Dict[str, Any] = {"name": name}
        if confirm:
            params["confirm"] = True
        result = self._call("execute", params)
        return [Transaction.from_json(t) for t in result["transactions"]]

    def describe(self, *names: str) -> List[Property]:
        """The named properties (all without names, in the property tree's order)."""
        params = {"names": list(names)} if names else {}
        return [Property.from_json(p) for p in self._call("describe", params)["properties"]]

    def load(self, path: PathLike, verify: bool = False,
             progress: Optional[Callable[[Progress], None]] = None) -> LoadResult:
        """Replay a batch file. ``verify`` compares each reply's values with those sent
        (VerifyError with ``mismatches``). ``progress`` is called with each
        :class:`Progress` while the batch runs (on the reader thread)."""
        params: Dict[str, Any] = {"path": _path(path)}
        if verify:
            params["verify"] = True
        if progress is None:
            return LoadResult.from_json(self._call("load", params))
        remove = self.on("progress", progress)
        try:
            return LoadResult.from_json(self._call("load", params))
        finally:
            remove()

    def save(self, path: PathLike, /, values: Optional[Mapping[str, Value]] = None,
             **named: Value) -> SaveResult:
        """Write the settings text file of the definition's values, with ``named`` (and
        ``values``, as in :meth:`set`) changed in the file only."""
        params: Dict[str, Any] = {"path": _path(path)}
        merged: Dict[str, Value] = dict(values or {})
        merged.update(named)
        if merged:
            params["values"] = merged
        return SaveResult.from_json(self._call("save", params))

    def check(self, *paths: PathLike) -> List[Problem]:
        """Load definitions and list what would fail at run time. Problems raise
        VerifyError with ``problems``; a file that cannot be read raises FileError."""
        result = self._call("check", {"paths": [_path(p) for p in paths]})
        return [Problem.from_json(p) for p in result.get("problems") or []]

    def ports(self) -> Ports:
        """The interfaces and the built-in interface's ports."""
        return Ports.from_json(self._call("ports"))

    def cancel(self) -> bool:
        """Cancel this camera's running request (call it from another thread); that request
        then raises TransactionError. False when none was running."""
        return bool(self._call("cancel")["cancelled"])

    def watch(self, *names: str, every: float, run: Optional[str] = None,
              send: Optional[str] = None) -> "Watch":
        """Every ``every`` seconds (0.1 to 86400) run the Execution property ``run`` or send
        the command ``send`` (or neither), then read the values of ``names``: a
        :class:`Watch` to iterate over, one :class:`Round` each. Rounds run between this
        server's requests. End it with ``close()`` or a ``with`` block.

            with cam.watch("SensorTemperature", every=2, run="ReadTemperature") as rounds:
                for r in rounds:
                    print(r.time, r.values)
        """
        params: Dict[str, Any] = {"every_ms": int(round(every * 1000)), "names": list(names)}
        if run is not None:
            params["run"] = run
        if send is not None:
            params["send"] = send
        w = Watch(self)
        with self._cb_lock:
            # Registered before the request: the first round may come before its answer.
            self._pending_watches.append(w)
        try:
            w.id = int(self._call("watch", params)["id"])
        finally:
            with self._cb_lock:
                self._pending_watches.remove(w)
        with self._cb_lock:
            self._watches[w.id] = w
            early = self._early_rounds.pop(w.id, [])
        for r in early:
            w._rounds.put(r)
        return w

    def _unwatch(self, w: "Watch") -> None:
        with self._cb_lock:
            self._watches.pop(w.id, None)
        if self.connected:
            self._call("unwatch", {"id": w.id})

    # ---- notifications

    def on(self, event: str, callback: Callable[[Any], None]) -> Callable[[], None]:
        """Call ``callback`` with each ``event``: "progress" (:class:`Progress`), "traffic"
        (:class:`Traffic`), "port_lost" (:class:`PortLost`), "port_returned"
        (:class:`PortReturned`). Returns a function that removes the callback again."""
        if event not in EVENTS:
            raise ValueError(f"unknown event {event!r}; one of {', '.join(EVENTS)}")
        with self._cb_lock:
            self._callbacks[event].append(callback)
        self._resubscribe()

        def remove() -> None:
            with self._cb_lock:
                if callback not in self._callbacks[event]:
                    return
                self._callbacks[event].remove(callback)
            self._resubscribe()

        return remove

    def _resubscribe(self) -> None:
        # The reader thread delivers notifications meanwhile: it needs only _cb_lock.
        with self._sub_lock:
            with self._cb_lock:
                wanted = sorted({EVENTS[e] for e, cbs in self._callbacks.items() if cbs})
            if wanted != self._subscribed and self.connected:
                self._call("subscribe", {"events": wanted})
                self._subscribed = wanted

    def _end_watches(self) -> None:
        with self._cb_lock:
            watches, self._watches = list(self._watches.values()), {}
        for w in watches:
            w._rounds.put(Watch._END)

    def _notify(self, method: str, params: Dict[str, Any]) -> None:
        if method == END_OF_NOTIFICATIONS:
            self._end_watches()
            return
        if method == "watch":
            r = Round.from_json(params)
            with self._cb_lock:
                w = self._watches.get(r.id)
                if w is None and self._pending_watches:
                    self._early_rounds.setdefault(r.id, []).append(r)
            if w is not None:
                w._rounds.put(r)
            return
        kind = NOTIFICATIONS.get(method)
        if kind is None:
            return
        with self._cb_lock:
            callbacks = list(self._callbacks.get(method, ()))
        if callbacks:
            event = kind.from_json(params)
            for callback in callbacks:
                callback(event)


class Watch:
    """The rounds of :meth:`Camera.watch`, as an iterator. Iterating waits for the next round
    (``timeout`` of :meth:`next`: None waits as long as it takes) and ends after ``close()``
    or when the server goes away."""

    _END = object()

    def __init__(self, camera: Camera) -> None:
        self.id = 0
        self._camera = camera
        self._rounds: "queue.Queue[Any]" = queue.Queue()
        self._closed = False

    def next(self, timeout: Optional[float] = None) -> Round:
        """The next round; raises queue.Empty after ``timeout`` seconds without one and
        StopIteration once the watch is closed."""
        item = self._rounds.get(timeout=timeout)
        if item is Watch._END:
            self._rounds.put(item)
            raise StopIteration
        return item

    def __iter__(self) -> Iterator[Round]:
        return self

    def __next__(self) -> Round:
        return self.next()

    def close(self) -> None:
        """Stop the rounds (the server hears it once); iteration then ends."""
        if self._closed:
            return
        self._closed = True
        try:
            self._camera._unwatch(self)
        except ServerGoneError:
            pass
        finally:
            self._rounds.put(Watch._END)

    def __enter__(self) -> "Watch":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()


def _options(port: Optional[str], definition: Optional[PathLike], interface: Optional[str],
             baud: Optional[int], timeout_ms: Optional[int], gap_ms: Optional[int],
             instance: int) -> List[str]:
    args = ["-i", str(instance)]
    for option, value in (("--port", port), ("--interface", interface), ("--baud", baud),
                          ("--timeout", timeout_ms), ("--gap", gap_ms)):
        if value is not None:
            args += [option, str(value)]
    if definition is not None:
        d = os.fspath(definition)
        args += ["--definition", d if d == "auto" else _path(d)]
    return args


def open(port: Optional[str] = None, *, definition: Optional[PathLike] = None,
         interface: Optional[str] = None, baud: Optional[int] = None,
         timeout_ms: Optional[int] = None, gap_ms: Optional[int] = None, instance: int = 0,
         cli: Optional[PathLike] = None) -> Camera:
    """Start ``quillon-cli serve`` with these as its options, open the port and return the
    :class:`Camera`. ``port``: a port name as ``ports`` lists it, a device path, or
    ``tcp://HOST:PORT`` / ``rfc2217://HOST:PORT``; omitted arguments take instance
    ``instance``'s settings. ``definition``: a file or "auto" (from the "sta" identity).
    ``cli``: the quillon-cli to start (see :func:`find_cli`).

    The server runs in a session of its own (a Ctrl-C reaches this script, not it) and
    ends with :meth:`Camera.close` or when this process ends. Raises the open's error
    (PortError, FileError, ...) after ending the server again.
    """
    argv = [find_cli(cli), *_options(port, definition, interface, baud, timeout_ms, gap_ms,
                                     instance), "serve"]
    try:
        camera = Camera(lambda notify: ProcessConnection(argv, notify))
    except OSError as e:
        raise FileError(2, f"{argv[0]} cannot be started: {e.strerror or e}") from e
    try:
        camera._call("open", {})
    except BaseException:
        camera.close()
        raise
    return camera


def connect(socket_path: PathLike) -> Camera:
    """Join a ``quillon-cli serve --socket PATH`` that others may share. Nothing is opened:
    the port is whatever the server holds; call :meth:`Camera.open` to open (or reopen) it.
    Raises ServerGoneError when nothing listens there."""
    path = os.fspath(socket_path)
    return Camera(lambda notify: SocketConnection(path, notify))


def window_socket(instance: int = 0) -> str:
    """The scripting socket of the Quillon window of ``instance``:
    ``$XDG_RUNTIME_DIR/quillon/Quillon_NN.sock``."""
    runtime = os.environ.get("XDG_RUNTIME_DIR")
    if not runtime:
        raise ServerGoneError("XDG_RUNTIME_DIR is not set: no window socket to attach to")
    return os.path.join(runtime, "quillon", "Quillon_%02d.sock" % instance)


def attach(instance: int = 0) -> Camera:
    """Join the camera a running Quillon window holds (its instance number), beside its
    operator. The window holds the port: ``open`` and ``close`` are refused (PortError), and
    each request runs as one of the window's own jobs, in turn with the operator's. Raises
    ServerGoneError when the window does not listen (not running, or its View item
    "Scripting socket" off)."""
    return connect(window_socket(instance))
