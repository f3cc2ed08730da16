// The simulated camera on a pseudo-terminal: the program (or a test) opens the terminal pair,
// publishes the path of its device as a symbolic link, and answers every command line that
// arrives on it through clCameraSim, with optional faults. The same camera can be served on a
// TCP port instead (Listen), as a serial device server serves one: one client at a time, a
// further one closed at once; the faults that close the terminal then drop the connection and
// the server waits for the next client.
#pragma once

#include "platform/Event.h"
#include "platform/Thread.h"
#include "tools/camsim/CameraSim.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

// Faults the simulator can inject into its answers.
struct CamSimFaults {
    int answerDelayMs = 0;      // wait before answering
    int chunkBytes = 0;         // answer in chunks of this many bytes (0: in one piece)
    int chunkGapMs = 0;         // pause between chunks
    bool noAnswer = false;      // take commands, answer nothing
    int garbageBytes = 0;       // a line of this many garbage bytes before the answer
    int noiseLines = 0;         // this many ">(" noise lines before the answer
    bool dropMidReply = false;  // send the first half of the answer, never the rest
    bool closeMidReply = false; // send the first half of the answer, then close the terminal
    // Close the terminal instead of answering command n (0: never); on TCP, drop the
    // connection when its command n arrives (each connection counts from 1).
    int closeAfterCommands = 0;
    bool readNothing = false; // never read what arrives (the host's writes then back up)
    uint32_t lineSpeed = 0;   // answer only while the line runs at this rate (0: any rate)
    // Take as long as a serial line at this rate would (0: no time at all): each command and
    // its answer, 10 bits a byte, pass before the answer is written.
    uint32_t paceBaud = 0;
};

class clPtyServer {
public:
    explicit clPtyServer(clCameraSim& sim) : m_sim(sim) {}
    ~clPtyServer();
    clPtyServer(const clPtyServer&) = delete;
    clPtyServer& operator=(const clPtyServer&) = delete;

    // Opens the terminal pair (raw line settings) and, when linkPath is not empty, makes
    // linkPath a symbolic link to the device (replacing an old link, never another file).
    bool Open(const std::string& linkPath = {});
    // Serves on TCP instead: listens on hostPort ("127.0.0.1:4001"; port 0 takes a free one).
    // False when the address is malformed or cannot be bound.
    bool Listen(const std::string& hostPort);
    // The port listened on (0 when not listening).
    uint16_t ListenPort() const { return m_listenPort; }
    // The address to give the host: "tcp://127.0.0.1:PORT".
    std::string TcpAddress() const;
    // Clients that connected so far (those closed at once included).
    int Connections() const { return m_connections; }
    // The device the host opens (/dev/pts/N) and the published link.
    const std::string& DevicePath() const { return m_slavePath; }
    const std::string& LinkPath() const { return m_linkPath; }
    // The master side of the terminal (-1 on TCP or when closed), to read its line settings.
    int MasterFd() const { return m_tcp ? -1 : m_master.load(); }

    // Serves commands until Stop (or until a fault closes the terminal).
    void Run();
    bool Start(); // Run on a thread of its own
    void Stop();  // ends Run and waits for the thread
    // Closes the terminal: the host's device reports a hang-up. Removes the link. On TCP it
    // drops the connection of the client (the server goes on listening).
    void CloseTerminal();
    // Stops listening (TCP); the client's connection stays until CloseTerminal.
    void CloseListener();
    // The terminal is open, or the server listens.
    bool IsOpen() const { return m_master >= 0 || m_listen >= 0; }

    CamSimFaults faults; // set before Start
    // Bytes received so far and commands taken.
    std::string Received() const;
    int Commands() const { return m_commands; }
    // Held while the simulator's values are read or changed from outside.
    std::mutex& SimLock() { return m_simLock; }

private:
    void Accept();
    void HandleLine(const std::string& line);
    // Whether the host's side runs at the rate the camera is fixed to (always without one).
    bool AtLineSpeed() const;
    bool WriteAll(const std::string& bytes);
    bool Pause(int ms); // false when stopped meanwhile

    clCameraSim& m_sim;
    std::atomic<int> m_master{-1};
    int m_slaveHold = -1; // keeps the pair alive while the host has not opened its side
    std::string m_slavePath;
    std::string m_linkPath;
    platform::Event m_stop{platform::Event::Reset::Manual};
    platform::Thread m_thread;
    mutable std::mutex m_lock; // m_received
    std::string m_received;
    std::string m_line;
    std::atomic<int> m_commands{0};
    int m_connectionCommands = 0;
    bool m_tcp = false;
    std::atomic<int> m_listen{-1};
    uint16_t m_listenPort = 0;
    std::string m_listenHost;
    std::atomic<int> m_connections{0};
    std::mutex m_simLock;
    std::mutex m_closeLock;
};
