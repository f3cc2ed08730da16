// clScriptListener: the clients of a scripting socket, for a front-end whose own thread must
// never wait on them (the window). A thread of its own accepts the clients (only the user's own),
// cuts their bytes into lines and reads each into requests (serve::ReadLine), and hands them on;
// answers are written without waiting: what a client does not take at once is kept and written
// as it reads, and a client that lets too much pile up is dropped.
//
// A client whose lines the front-end has not finished is read no further (at most
// kMaxPendingLines): a client that floods requests fills its own socket, not the front-end's
// queue.
#pragma once

#include "app/ServeRequest.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

namespace platform {
class Event;
}

class clScriptListener {
public:
    static constexpr size_t kMaxPendingLines = 64;
    static constexpr size_t kMaxUnsentBytes = size_t{16} << 20;

    // Called on the listener's thread; each must return promptly.
    struct Handlers {
        std::function<void(uint64_t client)> connected;
        // A line of requests (never a blank one). The front-end calls Handled when it is done.
        std::function<void(uint64_t client, serve::Line line)> line;
        // The client went away (its end, an error, or dropped); nothing reaches it any more.
        std::function<void(uint64_t client)> gone;
    };

    clScriptListener();
    ~clScriptListener(); // Stop()
    clScriptListener(const clScriptListener&) = delete;
    clScriptListener& operator=(const clScriptListener&) = delete;

    // Listens at path (serve::ListenOnSocket) and starts the thread. False with error.
    bool Start(const std::string& path, Handlers handlers, std::string& error);
    // Ends the thread and every connection and removes the socket file; no handler runs after.
    void Stop();
    bool Listening() const { return m_thread.joinable(); }
    const std::string& Path() const { return m_path; }

    // One line to the client (any thread, never waits). A client that is gone takes nothing.
    void Write(uint64_t client, const nlohmann::json& message);
    // The front-end has finished one of the client's lines (any thread).
    void Handled(uint64_t client);

private:
    struct Client;
    void Run();
    void Accept();
    // False when the client is gone.
    bool Read(Client& c);
    bool Flush(Client& c);
    std::shared_ptr<Client> Find(uint64_t id);

    std::string m_path;
    int m_listen = -1;
    Handlers m_handlers;
    std::unique_ptr<platform::Event> m_wake; // Stop, and news for the thread (output, Handled)
    std::atomic<bool> m_stopping{false};
    std::mutex m_lock; // m_clients
    std::map<uint64_t, std::shared_ptr<Client>> m_clients;
    uint64_t m_lastId = 0;
    std::thread m_thread;
};
