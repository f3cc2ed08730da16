#include "tools/camsim/PtyServer.h"

#include "platform/SerialDevice.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

clPtyServer::~clPtyServer() {
    Stop();
    CloseTerminal();
    CloseListener();
}

bool clPtyServer::Listen(const std::string& hostPort) {
    const size_t colon = hostPort.rfind(':');
    if (colon == std::string::npos || colon == 0 || m_listen >= 0)
        return false;
    std::string host = hostPort.substr(0, colon);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    const std::string port = hostPort.substr(colon + 1);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* list = nullptr;
    if (::getaddrinfo(host.c_str(), port.c_str(), &hints, &list) != 0 || !list)
        return false;
    int fd = ::socket(list->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int on = 1;
    if (fd >= 0 && (::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
                    ::bind(fd, list->ai_addr, list->ai_addrlen) != 0 || ::listen(fd, 4) != 0)) {
        ::close(fd);
        fd = -1;
    }
    ::freeaddrinfo(list);
    if (fd < 0)
        return false;
    sockaddr_storage bound{};
    socklen_t len = sizeof bound;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &len);
    m_listenPort =
        ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                          : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
    m_listenHost = host.find(':') != std::string::npos ? "[" + host + "]" : host;
    m_tcp = true;
    m_listen = fd;
    return true;
}

std::string clPtyServer::TcpAddress() const {
    return "tcp://" + m_listenHost + ":" + std::to_string(m_listenPort);
}

void clPtyServer::CloseListener() {
    const int fd = m_listen.exchange(-1);
    if (fd < 0)
        return;
    // A socket another thread polls is only closed once that poll ends: shut down first.
    (void)::shutdown(fd, SHUT_RDWR);
    ::close(fd);
}

void clPtyServer::Accept() {
    const int client = ::accept4(m_listen, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (client < 0)
        return;
    ++m_connections;
    if (m_master >= 0) {
        ::close(client); // one client at a time: the next is closed at once
        return;
    }
    const int on = 1;
    (void)::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    m_connectionCommands = 0;
    m_line.clear();
    m_master = client;
}

bool clPtyServer::Open(const std::string& linkPath) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0)
        return false;
    char name[128];
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
        ::ptsname_r(master, name, sizeof name) != 0) {
        ::close(master);
        return false;
    }
    // Raw both ways: no echo, no line editing, no CR/LF translation.
    termios t{};
    if (::tcgetattr(master, &t) == 0) {
        ::cfmakeraw(&t);
        ::tcsetattr(master, TCSANOW, &t);
    }
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    m_slaveHold = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    m_slavePath = name;
    m_master = master;
    if (!linkPath.empty()) {
        struct stat st {};
        if (::lstat(linkPath.c_str(), &st) == 0) {
            if (!S_ISLNK(st.st_mode)) {
                CloseTerminal();
                return false; // never replace a file that is not a link
            }
            ::unlink(linkPath.c_str());
        }
        if (::symlink(name, linkPath.c_str()) != 0) {
            CloseTerminal();
            return false;
        }
        m_linkPath = linkPath;
    }
    return true;
}

void clPtyServer::CloseTerminal() {
    std::lock_guard<std::mutex> g(m_closeLock);
    const int master = m_master.exchange(-1);
    if (master >= 0 && m_tcp)
        (void)::shutdown(master, SHUT_RDWR); // as CloseListener: the client sees the end now
    if (master >= 0)
        ::close(master);
    if (m_tcp)
        return;
    if (m_slaveHold >= 0) {
        ::close(m_slaveHold);
        m_slaveHold = -1;
    }
    if (!m_linkPath.empty()) {
        struct stat st {};
        if (::lstat(m_linkPath.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
            ::unlink(m_linkPath.c_str());
        m_linkPath.clear();
    }
}

bool clPtyServer::Start() {
    m_stop.ResetEvent();
    return m_thread.Start([this] { Run(); });
}

void clPtyServer::Stop() {
    m_stop.Set();
    if (m_thread.Exists())
        m_thread.JoinFor(platform::kThreadStopTimeoutMs);
}

std::string clPtyServer::Received() const {
    std::lock_guard<std::mutex> g(m_lock);
    return m_received;
}

bool clPtyServer::Pause(int ms) {
    if (ms <= 0)
        return !m_stop.IsSignalled();
    return platform::WaitForAny({&m_stop}, ms) == platform::kWaitTimeout;
}

bool clPtyServer::WriteAll(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const int master = m_master;
        if (master < 0)
            return false;
        const ssize_t n =
            m_tcp ? ::send(master, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL)
                  : ::write(master, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        pollfd p[2] = {{master, POLLOUT, 0}, {m_stop.Fd(), POLLIN, 0}};
        ::poll(p, 2, 100);
        if (p[1].revents & POLLIN)
            return false;
    }
    return true;
}

void clPtyServer::Run() {
    char buf[512];
    for (;;) {
        const int master = m_master;
        if (master < 0 && m_listen < 0)
            return;
        pollfd p[3] = {{m_stop.Fd(), POLLIN, 0},
                       {master, static_cast<short>(faults.readNothing ? 0 : POLLIN), 0},
                       {m_listen, POLLIN, 0}};
        if (::poll(p, 3, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (p[0].revents & POLLIN)
            return;
        if (p[2].revents & POLLIN)
            Accept();
        if (master < 0)
            continue;
        if (!(p[1].revents & POLLIN)) {
            if (p[1].revents & (POLLHUP | POLLERR | POLLNVAL)) {
                // The client left; or the host's side of the terminal is closed and we hold
                // none: wait for it to come back.
                if (m_tcp)
                    CloseTerminal();
                else if (!Pause(50))
                    return;
            }
            continue;
        }
        const ssize_t n = ::read(master, buf, sizeof buf);
        if (n <= 0) {
            if (n < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
            if (m_tcp)
                CloseTerminal();
            else if (!Pause(50))
                return;
            continue;
        }
        {
            std::lock_guard<std::mutex> g(m_lock);
            m_received.append(buf, static_cast<size_t>(n));
        }
        for (ssize_t i = 0; i < n; ++i) {
            const char c = buf[i];
            if (c == '\r' || c == '\n') {
                if (!m_line.empty()) {
                    std::string line;
                    line.swap(m_line);
                    HandleLine(line);
                    if (m_master != master)
                        break; // a fault closed the terminal or dropped the client
                }
            } else if (c != '\0' && m_line.size() < 4096) {
                m_line.push_back(c);
            }
        }
        if (!m_tcp && m_master < 0)
            return;
    }
}

bool clPtyServer::AtLineSpeed() const {
    if (faults.lineSpeed == 0)
        return true;
    // The master reads the settings the host gave its side of the terminal.
    uint32_t in = 0, out = 0;
    const int master = m_master;
    return master >= 0 && platform::ReadExactSpeed(master, in, out) && in == faults.lineSpeed &&
           out == faults.lineSpeed;
}

void clPtyServer::HandleLine(const std::string& line) {
    const int number = ++m_commands;
    const int onConnection = ++m_connectionCommands;
    if (faults.closeAfterCommands > 0 &&
        (m_tcp ? onConnection : number) >= faults.closeAfterCommands) {
        CloseTerminal();
        return;
    }
    std::string answer;
    {
        std::lock_guard<std::mutex> g(m_simLock);
        answer = m_sim.Answer(line);
    }
    if (faults.noAnswer || !AtLineSpeed())
        return;
    if (!Pause(faults.answerDelayMs))
        return;
    std::string prefix;
    if (faults.garbageBytes > 0) {
        static const char kGarbage[] = "\x01\x7f\xfe\x80?#~\x1b";
        for (int i = 0; i < faults.garbageBytes; ++i)
            prefix.push_back(kGarbage[i % (sizeof kGarbage - 1)]);
        prefix += "\r\n";
    }
    for (int i = 0; i < faults.noiseLines; ++i)
        prefix += ">(noise " + std::to_string(i) + ")\r\n";
    // The echo stays in front of everything the camera adds.
    if (m_sim.echo) {
        const size_t echoEnd = answer.find("\r\n") + 2;
        answer.insert(echoEnd, prefix);
    } else {
        answer.insert(0, prefix);
    }
    if (faults.dropMidReply || faults.closeMidReply) {
        answer.resize(answer.size() / 2);
        WriteAll(answer);
        if (faults.closeMidReply) {
            // Let the first half reach the host before the terminal goes away.
            Pause(100);
            CloseTerminal();
        }
        return;
    }
    if (faults.paceBaud > 0) {
        const auto bits = static_cast<int64_t>(line.size() + 1 + answer.size()) * 10;
        std::this_thread::sleep_for(std::chrono::microseconds(bits * 1000000 / faults.paceBaud));
    }
    const size_t chunk =
        faults.chunkBytes > 0 ? static_cast<size_t>(faults.chunkBytes) : answer.size();
    for (size_t pos = 0; pos < answer.size(); pos += chunk) {
        if (pos > 0 && !Pause(faults.chunkGapMs))
            return;
        if (!WriteAll(answer.substr(pos, chunk)))
            return;
    }
}
