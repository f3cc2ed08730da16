// A working-set layer for tests: by default it has room to spare, so start-up reserves its
// working set whatever the machine has (the real limits are not what most tests are about);
// a test of the reservation itself sets what the layer reports and reads what was asked of it.
#pragma once

#include "platform/WorkingSet.h"

#include <cstdint>
#include <utility>
#include <vector>

struct FakeWorkingSet : platform::IWorkingSet {
    static constexpr uint64_t MiB = 1024 * 1024;
    bool queryOk = true, getOk = true, setOk = true;
    uint64_t available = 64 * 1024 * MiB;
    uint64_t minimum = 8 * MiB, maximum = UINT64_MAX; // RLIMIT_RSS unlimited
    std::vector<std::pair<uint64_t, uint64_t>> sets;

    bool QueryAvailableVirtual(uint64_t& bytes) override {
        bytes = available;
        return queryOk;
    }
    bool GetLimits(uint64_t& min, uint64_t& max) override {
        min = minimum;
        max = maximum;
        return getOk;
    }
    bool SetLimits(uint64_t min, uint64_t max) override {
        sets.emplace_back(min, max);
        return setOk;
    }
};
