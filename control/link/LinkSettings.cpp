#include "LinkSettings.h"

#include "LookupMessage.h"
#include "platform/Registry.h"

#include <cstdlib>

namespace vyrdax {

const LinkTimeouts& Timeouts()
{
    static const LinkTimeouts timeouts = [] {
        LinkTimeouts t;
        const char* text = std::getenv("VYR_TEST_TIME_DIVISOR");
        const long divisor = text ? std::strtol(text, nullptr, 10) : 1;
        if (divisor > 1 && divisor <= 1000) {
            for (int* v : {&t.loginSendMs, &t.loginReplyMs, &t.dataMs, &t.reconnectTickMs, &t.lookupRetryMs,
                           &t.connectMs})
                *v = static_cast<int>(*v / divisor);
        }
        return t;
    }();
    return timeouts;
}

std::string LookupHost()
{
    return platform::RegistryReadString(kControlRegistryKey, "LookupHost").value_or("127.0.0.1");
}

uint16_t LookupPort()
{
    const long port = platform::RegistryReadInt(kControlRegistryKey, "LookupPort").value_or(kDefaultLookupPort);
    return port > 0 && port <= 65535 ? static_cast<uint16_t>(port) : kDefaultLookupPort;
}

} // namespace vyrdax
