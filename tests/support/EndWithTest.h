// The programs a test starts with QProcess end with the test.
#pragma once

#include "EndWithTestProcess.h"

#include <QProcess>

namespace testsupport {

// Call before start, from the test's own thread.
inline void EndWithTest(QProcess& process)
{
    const pid_t test = ::getpid();
    process.setChildProcessModifier([test] { EndWithTestProcess(test); });
}

} // namespace testsupport
