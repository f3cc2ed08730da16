#include "comm/TrafficLog.h"

#include "comm/ReplyCollector.h"
#include "comm/TransactionCodes.h"
#include "platform/Text.h"

#include <csignal>
#include <ctime>
#include <pthread.h>
#include <utility>

clTrafficLog::clTrafficLog(WallClock clock) : m_clock(std::move(clock)) {
    if (!m_clock)
        m_clock = [] { return std::chrono::system_clock::now(); };
}

clTrafficLog::~clTrafficLog() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_listener = nullptr; // its owner may be going too: told nothing more
    }
    Close();
}

bool clTrafficLog::Open(const std::string& path) {
    std::lock_guard<std::mutex> opening(m_openLock);
    StopFlusher();
    std::lock_guard<std::mutex> guard(m_lock);
    FlushPendingLocked();
    if (m_file)
        std::fclose(m_file);
    m_file = std::fopen(path.c_str(), "ab");
    if (Active())
        StartFlusherLocked();
    return m_file != nullptr;
}

void clTrafficLog::StartFlusherLocked() {
    m_stopFlusher = false;
    // The flusher takes no signal: a signal belongs to the thread that waits for it (a signal
    // delivered here would end the process unhandled).
    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &old);
    m_flusher = std::thread([this] { FlusherLoop(); });
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

void clTrafficLog::SetListener(Listener listener) {
    std::lock_guard<std::mutex> opening(m_openLock);
    StopFlusher();
    std::lock_guard<std::mutex> guard(m_lock);
    FlushPendingLocked();
    m_listener = std::move(listener);
    if (Active())
        StartFlusherLocked();
}

void clTrafficLog::Close() {
    std::lock_guard<std::mutex> opening(m_openLock);
    StopFlusher();
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_file) {
        FlushPendingLocked();
        std::fclose(m_file);
        m_file = nullptr;
    }
    if (m_listener)
        StartFlusherLocked();
}

void clTrafficLog::StopFlusher() {
    if (!m_flusher.joinable())
        return;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_stopFlusher = true;
    }
    m_wake.notify_all();
    m_flusher.join();
}

void clTrafficLog::FlusherLoop() {
    std::unique_lock<std::mutex> guard(m_lock);
    while (!m_stopFlusher) {
        if (m_pending.empty()) {
            m_wake.wait(guard);
            continue;
        }
        const auto due = m_lastByte + kPendingPause;
        if (std::chrono::steady_clock::now() >= due)
            FlushPendingLocked();
        else
            m_wake.wait_until(guard, due);
    }
}

bool clTrafficLog::IsOpen() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_file != nullptr;
}

void clTrafficLog::Sent(const uint8_t* bytes, size_t length) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_sentAt = std::chrono::steady_clock::now();
    m_sent = true;
    if (!Active())
        return;
    FlushPendingLocked();
    WriteLine(">>", Escape(std::string_view(reinterpret_cast<const char*>(bytes), length)),
              m_clock());
}

void clTrafficLog::Received(const uint8_t* bytes, size_t length) {
    std::unique_lock<std::mutex> guard(m_lock);
    if (!Active() || length == 0)
        return;
    // The bytes arrived now; a line is stamped with the arrival of its first byte.
    const Stamp arrived = m_clock();
    const bool wasEmpty = m_pending.empty();
    for (size_t i = 0; i < length; ++i) {
        if (m_pending.empty())
            m_pendingSince = arrived;
        m_pending += Escape(std::string_view(reinterpret_cast<const char*>(bytes + i), 1));
        ++m_pendingBytes;
        if (bytes[i] == 0x0A || bytes[i] == kEot || m_pendingBytes >= kMaxPendingBytes)
            FlushPendingLocked();
    }
    m_lastByte = std::chrono::steady_clock::now();
    if (wasEmpty && !m_pending.empty()) {
        guard.unlock();
        m_wake.notify_all(); // the pause is measured from here on
    }
}

void clTrafficLog::Result(std::string_view text) {
    std::lock_guard<std::mutex> guard(m_lock);
    const bool sent = std::exchange(m_sent, false);
    if (!Active())
        return;
    FlushPendingLocked();
    const auto ms = sent ? std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::steady_clock::now() - m_sentAt)
                               .count()
                         : 0;
    WriteLine("==", std::string(text) + " (" + std::to_string(ms) + " ms)", m_clock());
}

std::string clTrafficLog::Escape(std::string_view bytes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size());
    for (const char ch : bytes) {
        const auto b = static_cast<uint8_t>(ch);
        if (b == '\r')
            out += "\\r";
        else if (b == '\n')
            out += "\\n";
        else if (b == '\\')
            out += "\\\\";
        else if (b >= 0x20 && b < 0x7F)
            out.push_back(ch);
        else {
            out += "\\x";
            out.push_back(kHex[b >> 4]);
            out.push_back(kHex[b & 15]);
        }
    }
    return out;
}

void clTrafficLog::FlushPendingLocked() {
    if (m_pending.empty())
        return;
    WriteLine("<<", m_pending, m_pendingSince);
    m_pending.clear();
    m_pendingBytes = 0;
}

std::string clTrafficLog::LocalStamp(std::chrono::system_clock::time_point at, char between) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(at);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch()).count() % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d%c%02d:%02d:%02d.%03d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, between, local.tm_hour, local.tm_min,
                  local.tm_sec, static_cast<int>(ms));
    return stamp;
}

void clTrafficLog::WriteLine(std::string_view direction, std::string_view text, Stamp at) {
    if (m_listener)
        m_listener(direction, text, at);
    if (!m_file)
        return;
    std::string line = LocalStamp(at);
    line.push_back(' ');
    line += direction;
    line.push_back(' ');
    line += text;
    line.push_back('\n');
    std::fwrite(line.data(), 1, line.size(), m_file);
    std::fflush(m_file);
}

std::u16string TrafficLogPathBeside(std::u16string_view settingsFilePath) {
    std::u16string path(settingsFilePath);
    constexpr std::u16string_view kIni = u".ini";
    if (path.size() >= kIni.size() &&
        path.compare(path.size() - kIni.size(), kIni.size(), kIni) == 0)
        path.resize(path.size() - kIni.size());
    return path + u"_Traffic.txt";
}

std::string TransactionOutcomeText(int32_t transactionResult, int32_t replyCode, bool stopped) {
    if (stopped)
        return "stopped";
    switch (transactionResult) {
    case TRANSACTION_OK:
        return platform::Utf16ToUtf8(ReplyCodeText(replyCode));
    case TRANSACTION_SEND_FAILED:
        return "send failed";
    case TRANSACTION_TIMEOUT:
        return "receive timeout";
    case TRANSACTION_CANCELLED:
        return "cancelled";
    default:
        return "failed";
    }
}
