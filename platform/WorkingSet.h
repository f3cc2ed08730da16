// Memory status and the process's resident-set limits, behind a small interface so start-up's
// reservation steps can run against a fake in tests.
//
// Linux has no working-set limits the kernel enforces; the layer maps them as follows:
// - available virtual space: what is left of the address space under RLIMIT_AS (the 47-bit user
//   address space when unlimited) after the process's VmSize, but no more than the memory the
//   system can still back (MemAvailable + SwapFree of /proc/meminfo);
// - minimum limit: the resident size now (VmRSS of /proc/self/status);
// - maximum limit: the soft RLIMIT_RSS (UINT64_MAX when unlimited);
// - setting the limits sets the soft RLIMIT_RSS to the maximum (the minimum has no setting).
#pragma once

#include <cstdint>

namespace platform {

class IWorkingSet {
public:
    virtual ~IWorkingSet() = default;
    // Available virtual address space in bytes. False when it cannot be found out.
    virtual bool QueryAvailableVirtual(uint64_t& bytes) = 0;
    virtual bool GetLimits(uint64_t& minimum, uint64_t& maximum) = 0;
    virtual bool SetLimits(uint64_t minimum, uint64_t maximum) = 0;
};

class SystemWorkingSet : public IWorkingSet {
public:
    bool QueryAvailableVirtual(uint64_t& bytes) override;
    bool GetLimits(uint64_t& minimum, uint64_t& maximum) override;
    bool SetLimits(uint64_t minimum, uint64_t maximum) override;
};

// A "Key:   1234 kB" value of a /proc file in bytes; false when the key is absent.
bool ReadProcKilobytes(const char* file, const char* key, uint64_t& bytes);

} // namespace platform
