// The Unix socket of a scripting service (quillon-cli serve --socket, the window's scripting
// socket): made private to its user, a stale one replaced, and peers of another user told apart.
#pragma once

#include <string>

namespace serve {

// Listens on a Unix socket at path with mode 0600. A socket file nobody answers on any more (left
// by a process that ended) is replaced; a live one or any other file is not. The descriptor
// (close-on-exec), or -1 with a one-line reason in error.
int ListenOnSocket(const std::string& path, std::string& error);

// Creates folder with mode 0700 when it is missing. An existing folder must be a folder of this
// user that no one else may write to. False with a one-line reason.
bool MakePrivateFolder(const std::string& folder, std::string& error);

// The scripting socket of the window of an instance: FOLDER/Quillon_NN.sock; folder empty:
// $XDG_RUNTIME_DIR/quillon (empty without the variable).
std::string WindowSocketPath(const std::string& folder, int instance);

// Whether the peer of a connected Unix socket runs as uid.
bool PeerIsUser(int fd, unsigned uid);

} // namespace serve
