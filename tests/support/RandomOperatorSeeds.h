// The seeds a random-operator test presses buttons for, shared by the
// local play-back and movie player tests so that one pair of variables
// drives both.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <random>
#include <algorithm>
#include <vector>

namespace testsupport {

// `suiteSeeds` by default; VYR_RANDOM_OPERATOR_SEED=S runs exactly S,
// VYR_RANDOM_OPERATOR_SEEDS=N runs N seeds drawn afresh, each named as it
// starts so that a failing one can be repeated.
inline std::vector<uint32_t> RandomOperatorSeeds(const std::vector<uint32_t>& suiteSeeds)
{
    if (const char* one = std::getenv("VYR_RANDOM_OPERATOR_SEED"))
        return {static_cast<uint32_t>(std::strtoul(one, nullptr, 10))};
    if (const char* many = std::getenv("VYR_RANDOM_OPERATOR_SEEDS")) {
        std::random_device device;
        std::vector<uint32_t> seeds(std::max<unsigned long>(1, std::strtoul(many, nullptr, 10)));
        for (uint32_t& seed : seeds)
            seed = device();
        return seeds;
    }
    return suiteSeeds;
}

} // namespace testsupport
