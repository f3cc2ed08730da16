#include "tools/cli/Attach.h"

#include "app/ServeRequest.h"
#include "tools/cli/Commands.h"
#include "tools/cli/Output.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using nlohmann::json;

namespace {

bool AllDigits(const std::string& text) {
    return !text.empty() && text.size() <= 2 &&
           text.find_first_not_of("0123456789") == std::string::npos;
}

// NAME=VALUE arguments as a values object (texts: the window reads them as set does).
bool ValuesOf(const std::vector<std::string>& arguments, size_t from, json& values,
              std::string& error, const std::string& command) {
    values = json::object();
    for (size_t i = from; i < arguments.size(); ++i) {
        const std::string& a = arguments[i];
        const size_t equals = a.find('=');
        if (equals == std::string::npos || equals == 0) {
            error = command + " needs NAME=VALUE, not \"" + a + "\"";
            return false;
        }
        values[a.substr(0, equals)] = a.substr(equals + 1);
    }
    return true;
}

// A file argument as the window finds it: the window has a current folder of its own.
std::string WindowPath(const std::string& file) {
    std::error_code ec;
    return std::filesystem::absolute(file, ec).string();
}

// The request the command stands for; false (with the reason) for a command the window does
// not run for scripts.
bool RequestOf(const CliCommand& c, json& request, std::string& error) {
    json params = json::object();
    if (c.name == "identify" || c.name == "ports") {
    } else if (c.name == "send") {
        params["commands"] = c.arguments;
    } else if (c.name == "describe") {
        if (!c.arguments.empty())
            params["names"] = c.arguments;
    } else if (c.name == "set") {
        if (!ValuesOf(c.arguments, 0, params["values"], error, "set"))
            return false;
    } else if (c.name == "load" || c.name == "save") {
        if (c.arguments.empty() || (c.name == "load" && c.arguments.size() != 1)) {
            error = c.name + (c.name == "load" ? " takes one FILE" : " takes a FILE");
            return false;
        }
        params["path"] = WindowPath(c.arguments.front());
        if (c.name == "load")
            params["verify"] = c.verify;
        else if (!ValuesOf(c.arguments, 1, params["values"], error, "save"))
            return false;
    } else if (c.name == "check") {
        params["paths"] = json::array();
        for (const std::string& file : c.arguments)
            params["paths"].push_back(WindowPath(file));
    } else {
        error = c.name + " does not run through the window: with --attach, every command but " +
                "watch does";
        return false;
    }
    request = {{"jsonrpc", "2.0"}, {"id", 1}, {"method", c.name}, {"params", params}};
    return true;
}

bool WriteAll(int fd, const std::string& bytes) {
    for (size_t at = 0; at < bytes.size();) {
        const ssize_t n = ::send(fd, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        at += static_cast<size_t>(n);
    }
    return true;
}

} // namespace

int TakeAttachOption(std::vector<std::string>& arguments, int fallback) {
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& a = arguments[i];
        if (a.rfind("--attach=", 0) == 0 && AllDigits(a.substr(9))) {
            const int instance = std::atoi(a.c_str() + 9);
            arguments.erase(arguments.begin() + static_cast<std::ptrdiff_t>(i));
            return instance;
        }
        if (a != "--attach")
            continue;
        int instance = fallback;
        size_t count = 1;
        if (i + 1 < arguments.size() && AllDigits(arguments[i + 1])) {
            instance = std::atoi(arguments[i + 1].c_str());
            count = 2;
        }
        arguments.erase(arguments.begin() + static_cast<std::ptrdiff_t>(i),
                        arguments.begin() + static_cast<std::ptrdiff_t>(i + count));
        return instance;
    }
    return -1;
}

int RunAttached(const std::string& path, const CliCommand& command, const clCliOutput& out) {
    json request;
    std::string error;
    if (!RequestOf(command, request, error)) {
        clCliOutput::Error(error);
        return kCliUsage;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (path.empty() || path.size() >= sizeof address.sun_path || fd < 0) {
        clCliOutput::Error("no window socket to attach to (XDG_RUNTIME_DIR is not set)");
        if (fd >= 0)
            ::close(fd);
        return kCliPort;
    }
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        clCliOutput::Error("no window listens on " + path + ": " + std::strerror(errno));
        ::close(fd);
        return kCliPort;
    }
    int status = kCliPort;
    std::string pending;
    bool answered = false;
    if (WriteAll(fd, serve::Serialize(request) + "\n")) {
        char buffer[65536];
        while (!answered) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            pending.append(buffer, static_cast<size_t>(n));
            for (size_t end; !answered && (end = pending.find('\n')) != std::string::npos;) {
                const json line = json::parse(pending.substr(0, end), nullptr, false);
                pending.erase(0, end + 1);
                if (!line.is_object() || !line.contains("id"))
                    continue; // a notification
                answered = true;
                try {
                    if (line.contains("result")) {
                        out.Emit(line["result"], line["result"].dump());
                        status = kCliOk;
                    } else {
                        const json e = line.value("error", json::object());
                        clCliOutput::Error(e.value("message", std::string("failed")));
                        if (out.Json() && e.contains("data"))
                            out.Emit(e["data"], e["data"].dump());
                        const int code = e.value("code", 1);
                        status = code >= 1 && code <= 6 ? code : kCliUsage;
                    }
                } catch (const json::exception& e) {
                    // An answer of another shape than the protocol's (or text that is no UTF-8).
                    clCliOutput::Error(std::string("the window's answer cannot be read: ") +
                                       e.what());
                    status = kCliPort;
                }
            }
        }
    }
    ::close(fd);
    if (!answered)
        clCliOutput::Error("the window closed the socket before it answered");
    return status;
}
