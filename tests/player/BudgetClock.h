// A clock for the playback engine's tests that moves only when a thread
// sleeps and that, past its budget, stops play: a wait that would never end
// returns, and the test fails instead of hanging.
#pragma once

#include "player/engine/PlaybackEngine.h"

namespace playertest {

class BudgetClock : public zoplayer::PlayerClock {
public:
    explicit BudgetClock(uint32_t budgetMs) : budget(budgetMs) {}
    uint32_t NowMs() override { return now; }
    void SleepMs(int ms) override
    {
        now += static_cast<uint32_t>(ms);
        if (now - start > budget && engine) {
            exceeded = true;
            engine->SetPlayState(zoplayer::kStopped);
        }
    }
    uint32_t start = 5000, now = 5000, budget;
    bool exceeded = false;
    zoplayer::PlaybackEngine* engine = nullptr;
};

} // namespace playertest
