#include "ProcessSignals.h"

#include <csignal>

namespace platform {

void IgnoreFileSizeLimitSignal()
{
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGXFSZ, &ignore, nullptr);
}

} // namespace platform
