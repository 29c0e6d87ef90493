#pragma once
// Time-outs of the DVR link and where the lookup service is.
#include <cstdint>
#include <string>

namespace vyrdax {

struct LinkTimeouts {
    int loginSendMs = 15000;
    int loginReplyMs = 10000;
    int dataMs = 60000;       // every other send and read, and the silence that ends a link
    int reconnectTickMs = 10000;
    int lookupRetryMs = 40000;
    int connectMs = 20000;    // a TCP connect that gets no answer
};

// The product's values. Tests may divide them by VYR_TEST_TIME_DIVISOR (an
// environment variable, not part of the control's interface) so that
// time-outs can be seen in seconds.
const LinkTimeouts& Timeouts();

// The registry key of the control's own settings.
inline constexpr const char* kControlRegistryKey = "Software\\Vyrdax\\VyrdaxCtrl";

// "LookupHost" (default 127.0.0.1) and "LookupPort" (default 61991) under
// the control's key.
std::string LookupHost();
uint16_t LookupPort();

} // namespace vyrdax
