// Reservation of an instance number across processes: an exclusive, non-blocking flock() on a
// lock file. The kernel frees the lock when the process ends, however it ends.
#pragma once

#include <string>

namespace platform {

class InstanceLock {
public:
    InstanceLock() = default;
    ~InstanceLock() { Release(); }
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // The folder of the lock files: $XDG_RUNTIME_DIR when set and not empty, else "/tmp".
    static std::string DefaultFolder();

    // Takes the lock on folder + "/" + name (folder empty: DefaultFolder()). False when another
    // holder has it or the file cannot be opened; a lock already held by this object is
    // released first.
    bool Acquire(const std::string& name, const std::string& folder = {});
    bool IsHeld() const { return m_fd >= 0; }
    // Frees the lock; a second call does nothing. The lock file itself stays.
    void Release();

private:
    int m_fd = -1;
};

} // namespace platform
