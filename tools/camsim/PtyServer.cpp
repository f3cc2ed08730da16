#include "tools/camsim/PtyServer.h"

#include "platform/SerialDevice.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

clPtyServer::~clPtyServer() {
    Stop();
    CloseTerminal();
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
    if (master >= 0)
        ::close(master);
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
        m_thread.JoinFor(5000);
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
        const ssize_t n = ::write(master, bytes.data() + done, bytes.size() - done);
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
        if (master < 0)
            return;
        pollfd p[2] = {{m_stop.Fd(), POLLIN, 0},
                       {master, static_cast<short>(faults.readNothing ? 0 : POLLIN), 0}};
        if (::poll(p, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (p[0].revents & POLLIN)
            return;
        if (!(p[1].revents & POLLIN)) {
            if (p[1].revents & (POLLHUP | POLLERR | POLLNVAL)) {
                // The host's side is closed and we hold none: wait for it to come back.
                if (!Pause(50))
                    return;
            }
            continue;
        }
        const ssize_t n = ::read(master, buf, sizeof buf);
        if (n <= 0) {
            if (n < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
            if (!Pause(50))
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
                    if (m_master < 0)
                        return; // a fault closed the terminal
                }
            } else if (c != '\0' && m_line.size() < 4096) {
                m_line.push_back(c);
            }
        }
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
    if (faults.closeAfterCommands > 0 && number >= faults.closeAfterCommands) {
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
    const size_t chunk =
        faults.chunkBytes > 0 ? static_cast<size_t>(faults.chunkBytes) : answer.size();
    for (size_t pos = 0; pos < answer.size(); pos += chunk) {
        if (pos > 0 && !Pause(faults.chunkGapMs))
            return;
        if (!WriteAll(answer.substr(pos, chunk)))
            return;
    }
}
