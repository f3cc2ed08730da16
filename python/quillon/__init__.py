"""quillon: industrial cameras from Python, through ``quillon-cli serve``.

    import quillon

    with quillon.open("/dev/ttyUSB0", definition="auto") as cam:
        print(cam.identify())
        cam.set(Gain=120)
        print(cam["Gain"])

:func:`open` starts a server of its own for one camera; :func:`connect` joins a
``quillon-cli serve --socket PATH`` others share, and :func:`attach` the camera of a running
Quillon window beside its operator. Errors raise :class:`QuillonError`
subclasses named after quillon-cli's exit statuses.
"""

from .camera import Camera, Watch, attach, connect, find_cli, open, window_socket
from .errors import (FileError, PortError, ProtocolError, QuillonError, ReplyCodeError,
                     ServerGoneError, TransactionError, UsageError, VerifyError)
from .reports import (Identity, Interface, LoadResult, Mismatch, OpenInfo, Port, PortLost,
                      PortReturned, Ports, Problem, Progress, Property, Round, SaveResult,
                      SetReports, Traffic, Transaction, Value)

__all__ = [
    "Camera", "Watch", "attach", "connect", "find_cli", "open", "window_socket",
    "QuillonError", "UsageError", "FileError", "PortError", "TransactionError",
    "ReplyCodeError", "VerifyError", "ProtocolError", "ServerGoneError",
    "Identity", "Interface", "LoadResult", "Mismatch", "OpenInfo", "Port", "PortLost",
    "PortReturned", "Ports", "Problem", "Progress", "Property", "Round", "SaveResult", "SetReports",
    "Traffic", "Transaction", "Value",
]
