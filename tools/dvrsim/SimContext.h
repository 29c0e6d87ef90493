// What every connection of the simulator shares.
#pragma once

#include "DvrRecords.h"
#include "SimLog.h"
#include "SimOptions.h"
#include "VideoLoops.h"

#include <vector>

namespace dvrsim {

struct SimContext {
    SimContext(const SimOptions& o, const VideoLoops& v, SimLog& l)
        : options(o), video(v), log(l),
          calendar(o.recordingDays, o.channels, std::time(nullptr)),
          setup(setupRecordSizeFor(o.resolvedDvrType()))
    {
    }
    const SimOptions& options;
    const VideoLoops& video;
    SimLog& log;
    std::vector<EventRecord> events;
    RecordingCalendar calendar;
    SetupStore setup;
    int dvrPort = 0;  // the port actually bound, for the lookup answer
};

}  // namespace dvrsim
