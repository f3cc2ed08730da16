"""What requests return and notifications carry, as dataclasses with the protocol's field
names. Fields the server adds later are ignored; fields it leaves out take their default.
"""

from __future__ import annotations

import dataclasses
from dataclasses import dataclass, field
from typing import Any, Dict, List, Mapping, Optional, Type, TypeVar, Union

#: A property's value as JSON carries it: Integer an int, Float a float, Bool a bool,
#: String a str, Selection the selected entry's text.
Value = Union[int, float, bool, str]

_T = TypeVar("_T", bound="_Record")


class _Record:
    """Building a dataclass from a JSON object, field by field."""

    @classmethod
    def from_json(cls: Type[_T], obj: Mapping[str, Any]) -> _T:
        names = {f.name for f in dataclasses.fields(cls)}  # type: ignore[arg-type]
        return cls(**{k: v for k, v in obj.items() if k in names})


@dataclass
class Transaction(_Record):
    """One command's exchange. ``result`` is "ok", "reply_code", "timeout", "send_failed",
    "cancelled" or "lost"; ``reply_code`` the camera's reply code text or None when none was
    read; ``replies`` the reply lines after the result line, their '>' removed."""

    command: str = ""
    result: str = ""
    reply_code: Optional[str] = None
    replies: List[str] = field(default_factory=list)
    elapsed_ms: float = 0


class SetReports(List[Transaction]):
    """What ``Camera.set`` returns: the transaction reports (it is a list of them) and in
    ``values`` every value the replies carried, recalculated properties included."""

    def __init__(self, transactions: List[Transaction], values: Dict[str, Value]) -> None:
        super().__init__(transactions)
        self.values = values


@dataclass
class Identity(_Record):
    """The camera's answer to "sta"."""

    model: str = ""
    type: str = ""
    version: str = ""
    serial: str = ""


def _identity(obj: Optional[Mapping[str, Any]]) -> Optional[Identity]:
    return Identity.from_json(obj) if obj else None


@dataclass
class OpenInfo(_Record):
    """The answer to ``open``: the port and interface used, the definition's path (None
    without one) and the identity "sta" gave (None when the camera did not answer it)."""

    port: str = ""
    interface: str = ""
    definition: Optional[str] = None
    identity: Optional[Identity] = None

    @classmethod
    def from_json(cls, obj: Mapping[str, Any]) -> "OpenInfo":
        info = super().from_json(obj)
        info.identity = _identity(obj.get("identity"))
        return info


@dataclass
class Property(_Record):
    """A property as ``describe`` tells it. ``titles`` and ``note`` are keyed by language
    ("ja", "en"); ``min``, ``max``, ``inc`` and ``unit`` are None where they do not apply."""

    name: str = ""
    type: str = ""
    access: str = ""
    unit: Optional[str] = None
    min: Optional[Value] = None
    max: Optional[Value] = None
    inc: Optional[Value] = None
    titles: Dict[str, str] = field(default_factory=dict)
    note: Dict[str, str] = field(default_factory=dict)
    commands: List[str] = field(default_factory=list)
    entries: List[Any] = field(default_factory=list)


@dataclass
class Mismatch(_Record):
    """A verified batch line whose reply carried other values than were sent."""

    line: int = 0
    command: str = ""
    sent: str = ""
    camera: str = ""


@dataclass
class LoadResult(_Record):
    """The answer to ``load``: lines sent of ``total``; ``outcome`` "all_sent", "stopped" or
    "cancelled"."""

    sent: int = 0
    total: int = 0
    outcome: str = ""
    mismatches: List[Mismatch] = field(default_factory=list)

    @classmethod
    def from_json(cls, obj: Mapping[str, Any]) -> "LoadResult":
        result = super().from_json(obj)
        result.mismatches = [Mismatch.from_json(m) for m in obj.get("mismatches") or []]
        return result


@dataclass
class SaveResult(_Record):
    """The answer to ``save``: the file written and its number of lines."""

    path: str = ""
    lines: int = 0


@dataclass
class Problem(_Record):
    """Something in a definition that would fail at run time."""

    file: str = ""
    kind: str = ""
    name: str = ""
    detail: str = ""


@dataclass
class Interface(_Record):
    """An interface (the built-in serial port or a plug-in) and its version."""

    name: str = ""
    version: str = ""


@dataclass
class Port(_Record):
    """A port of the built-in interface."""

    name: str = ""
    device: str = ""
    description: str = ""
    in_use: bool = False


@dataclass
class Ports(_Record):
    """The answer to ``ports``."""

    interfaces: List[Interface] = field(default_factory=list)
    ports: List[Port] = field(default_factory=list)

    @classmethod
    def from_json(cls, obj: Mapping[str, Any]) -> "Ports":
        return cls([Interface.from_json(i) for i in obj.get("interfaces") or []],
                   [Port.from_json(p) for p in obj.get("ports") or []])


# ---- notifications


@dataclass
class Progress(_Record):
    """A batch's progress: ``done`` lines finished of ``total``; ``line`` (1-based) the line
    now sent and ``text`` its command."""

    done: int = 0
    total: int = 0
    line: int = 0
    text: str = ""


@dataclass
class Traffic(_Record):
    """Bytes on the line: ``time`` local ISO-8601 with milliseconds, ``dir`` ">>" (sent) or
    "<<" (received), ``text`` as the traffic log escapes it (\\r \\n \\xHH \\\\)."""

    time: str = ""
    dir: str = ""
    text: str = ""


@dataclass
class PortLost(_Record):
    """The open port's device went away."""

    device: str = ""


@dataclass
class PortReturned(_Record):
    """The lost device came back and was opened again; ``identity`` is what "sta" gave then
    (None when the camera did not answer)."""

    device: str = ""
    identity: Optional[Identity] = None

    @classmethod
    def from_json(cls, obj: Mapping[str, Any]) -> "PortReturned":
        return cls(str(obj.get("device", "")), _identity(obj.get("identity")))


@dataclass
class Round(_Record):
    """One round of a watch: ``time`` local ISO-8601 with milliseconds, ``values`` by name;
    a round that failed has no values and ``error`` ({"code", "message"}) says why."""

    id: int = 0
    time: str = ""
    values: Dict[str, Value] = field(default_factory=dict)
    error: Optional[Dict[str, Any]] = None

    @property
    def ok(self) -> bool:
        return self.error is None


Notification = Union[Progress, Traffic, PortLost, PortReturned]

#: The notification methods and the dataclass each becomes.
NOTIFICATIONS: Dict[str, Any] = {
    "progress": Progress,
    "traffic": Traffic,
    "port_lost": PortLost,
    "port_returned": PortReturned,
}
