// A working-set layer with room to spare, so start-up reserves its working set whatever the
// test machine has (the real limits are not what these tests are about).
#pragma once

#include "platform/WorkingSet.h"

#include <cstdint>

struct PlentyWorkingSet : platform::IWorkingSet {
    bool QueryAvailableVirtual(uint64_t& bytes) override {
        bytes = 1ull << 40;
        return true;
    }
    bool GetLimits(uint64_t& minimum, uint64_t& maximum) override {
        minimum = 1 << 20;
        maximum = UINT64_MAX;
        return true;
    }
    bool SetLimits(uint64_t, uint64_t) override { return true; }
};
