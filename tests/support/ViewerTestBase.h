#pragma once
// What the viewers' tests share: each test runs in a program directory of
// its own (settings files, component registry), with the control registered
// there and message boxes recorded instead of shown.
#include "platform/Component.h"
#include "platform/MessageBox.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace testsupport {

class ViewerTestBase : public ::testing::Test {
protected:
    // `handoverPrefix` keeps the local sockets of viewers in tests running
    // side by side apart.
    void EnterProgramDirectory(const char* handoverPrefix, const char* controlLibrary)
    {
        ASSERT_TRUE(dir.isValid());
        previousDirectory = QDir::currentPath();
        QDir::setCurrent(dir.path());
        setenv("VYR_REGISTRY", qPrintable(dir.filePath("registry.ini")), 1);
        setenv("VYR_HANDOVER_NAMESPACE", qPrintable(QStringLiteral("%1%2").arg(handoverPrefix).arg(getpid())), 1);
        library = dlopen(controlLibrary, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library, nullptr);
        ASSERT_EQ(reinterpret_cast<platform::DllRegisterServerFn>(dlsym(library, "DllRegisterServer"))(),
                  platform::S_OK);
        previousBoxes = platform::SetMessageBoxHandler([this](const std::string& text, const std::string&, unsigned) {
            boxes.push_back(text);
            return platform::IDOK;
        });
    }
    // After the viewer's windows and document are gone.
    void LeaveProgramDirectory()
    {
        platform::SetMessageBoxHandler(previousBoxes);
        QDir::setCurrent(previousDirectory);
        unsetenv("VYR_REGISTRY");
        if (library)
            dlclose(library);
        library = nullptr;
    }

    QTemporaryDir dir;
    QString previousDirectory;
    void* library = nullptr;
    platform::MessageBoxHandler previousBoxes;
    std::vector<std::string> boxes;
};

} // namespace testsupport
