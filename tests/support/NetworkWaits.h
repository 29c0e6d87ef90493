#pragma once
// Whether a thread waited on the network: every poll() the process makes
// passes here first, and those of the watched thread that wait on an
// internet socket that is not ready are counted, unless the event loop
// makes them (a socket notifier's descriptor is the loop's to wait on, and a
// loop that waits is a window that answers as soon as anything comes).
//
// What a window promises while a DVR says nothing is that no call on its
// thread waits for that DVR: such a wait is counted here whatever the load,
// where a gap of the loop a loaded machine stretches too.
#include <cstdint>

namespace testsupport {

class NetworkWaits {
public:
    // Watches the calling thread (the GUI thread) from now on, counting
    // from zero.
    NetworkWaits();
    ~NetworkWaits();
    NetworkWaits(const NetworkWaits&) = delete;
    NetworkWaits& operator=(const NetworkWaits&) = delete;

    // Waits on a socket to another host that the watched thread made
    // outside its event loop, and the longest of them in ms.
    int Count() const;
    int64_t LongestMs() const;
};

} // namespace testsupport
