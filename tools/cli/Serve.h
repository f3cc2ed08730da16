// quillon-cli serve: one camera held open and driven by scripts over JSON-RPC 2.0, one JSON
// object per line, on standard input and output or on a Unix socket with any number of
// clients (docs/serve-protocol.md describes the protocol).
//
// Threads: the main thread owns the session and runs the camera's requests one at a time, in
// the order they arrived; a reader thread takes the lines of every client, answers what needs
// no camera (get, describe, check, ports, cancel, subscribe) at once, and queues the rest.
// Notifications are written by the thread that has the news (the worker for progress and
// traffic, the main thread for the port's loss and return). Every write of a client's line
// holds that client's lock, so lines never interleave.
#pragma once

#include <string>

class clCliSession;

// Serves standard input and output until the input ends (every request read is answered, then
// the port closes: 0) or a signal comes (128 + the signal).
int ServeStdio(clCliSession& session);
// Serves clients on a Unix socket at path (mode 0600; peers of another user are refused) until
// a signal comes. 128 + the signal, or 3 with error when the socket cannot be made.
int ServeSocket(clCliSession& session, const std::string& path, std::string& error);
