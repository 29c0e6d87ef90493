// The control as the viewers meet it: a library found through the registry,
// registered and unregistered by its own exports, driven by late-bound calls.
#include "EndWithTest.h"
#include "control/interface/VyrdaxInterface.h"
#include "platform/ControlContainer.h"
#include "platform/Registry.h"

#include <QImage>
#include <QProcess>
#include <QWidget>

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <filesystem>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class ModuleTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() / ("vyr-module-" + std::to_string(getpid()) + "-" +
                                             ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        registry_ = (dir_ / "registry.ini").string();
        setenv("VYR_REGISTRY", registry_.c_str(), 1);
        library_ = dlopen(VYRDAX_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library_, nullptr) << dlerror();
    }
    void TearDown() override
    {
        if (library_)
            dlclose(library_);
        unsetenv("VYR_REGISTRY");
        fs::remove_all(dir_);
    }
    template <typename Fn>
    Fn Export(const char* name)
    {
        return reinterpret_cast<Fn>(dlsym(library_, name));
    }
    platform::HRESULT Register() { return Export<platform::DllRegisterServerFn>("DllRegisterServer")(); }
    platform::HRESULT Unregister() { return Export<platform::DllUnregisterServerFn>("DllUnregisterServer")(); }

    fs::path dir_;
    std::string registry_;
    void* library_ = nullptr;
};

TEST_F(ModuleTest, RegisterCreateUnregisterAndCreateFails)
{
    QWidget host;
    platform::HRESULT hr = 0;
    EXPECT_FALSE(platform::CreateControl(vyrdax::kProgId, &host, &hr));
    EXPECT_EQ(hr, platform::REGDB_E_CLASSNOTREG);

    ASSERT_EQ(Register(), platform::S_OK);
    const std::string clsid = vyrdax::kClassId.ToString();
    EXPECT_EQ(platform::RegistryReadString(std::string(vyrdax::kProgId) + "\\CLSID", "").value_or(""), clsid);
    EXPECT_EQ(fs::canonical(platform::RegistryReadString("CLSID\\" + clsid + "\\InprocServer32", "").value_or("/")),
              fs::canonical(VYRDAX_LIBRARY));
    EXPECT_EQ(platform::RegistryReadString("CLSID\\" + clsid + "\\MiscStatus\\1", "").value_or(""), "131473");
    const std::string typeLib = "TypeLib\\" + vyrdax::kTypeLibId.ToString() + "\\1.0";
    EXPECT_EQ(platform::RegistryReadString(typeLib, "").value_or(""), "Vyrdax ActiveX Control module");
    EXPECT_EQ(platform::RegistryReadString("Interface\\" + vyrdax::kDispatchIid.ToString(), "HelpString").value_or(""),
              "Dispatch interface for Vyrdax Control");
    EXPECT_EQ(platform::RegistryReadString("Interface\\" + vyrdax::kEventsIid.ToString(), "HelpString").value_or(""),
              "Event interface for Vyrdax Control");

    {
        platform::ControlHandle byProgId = platform::CreateControl(vyrdax::kProgId, &host, &hr);
        ASSERT_TRUE(byProgId) << std::hex << hr;
        platform::ControlHandle byClassId = platform::CreateControl(clsid, &host, &hr);
        ASSERT_TRUE(byClassId);
        EXPECT_EQ(byProgId->Widget()->parentWidget(), &host);
        EXPECT_EQ(Export<platform::DllCanUnloadNowFn>("DllCanUnloadNow")(), platform::S_FALSE);

        int id = 0;
        ASSERT_EQ(byProgId->GetIDsOfNames("getchannelname", &id), platform::S_OK);
        platform::Variant r;
        std::vector<platform::Variant> args = {
            platform::Variant::String(u"Lobby-01"), platform::Variant::String(u"Guest"),
            platform::Variant::String(u""),         platform::Variant::String(u""),
            platform::Variant::String(u"127.0.0.1"), platform::Variant::Short(9201),
            platform::Variant::Short(0),            platform::Variant::Short(1),
            platform::Variant::Short(0),            platform::Variant::Short(0)};
        ASSERT_EQ(byProgId->Invoke(vyrdax::DISPID_SetConnectInfo, args, &r), platform::S_OK);
        ASSERT_EQ(byProgId->Invoke(id, {platform::Variant::Short(0)}, &r), platform::S_OK);
        EXPECT_EQ(r.vt, platform::VT_BSTR);
        EXPECT_EQ(r.bstr, u"Lobby-01");
        EXPECT_EQ(byProgId->Invoke(vyrdax::DISPID_ABOUTBOX, {}, &r), platform::DISP_E_MEMBERNOTFOUND);
    }
    EXPECT_EQ(Export<platform::DllCanUnloadNowFn>("DllCanUnloadNow")(), platform::S_OK);

    ASSERT_EQ(Unregister(), platform::S_OK);
    EXPECT_FALSE(platform::RegistryReadString(std::string(vyrdax::kProgId) + "\\CLSID", ""));
    EXPECT_FALSE(platform::RegistryReadString(typeLib, ""));
    EXPECT_FALSE(platform::CreateControl(vyrdax::kProgId, &host, &hr));
    EXPECT_EQ(hr, platform::REGDB_E_CLASSNOTREG);
    EXPECT_FALSE(platform::CreateControl(clsid, &host, &hr));
    // Unregistering what is not registered reports the type library step.
    EXPECT_EQ(Unregister(), vyrdax::SELFREG_E_TYPELIB);
}

TEST_F(ModuleTest, ClassObjectOnlyForItsOwnClassAndFactoryInterface)
{
    auto get = Export<platform::DllGetClassObjectFn>("DllGetClassObject");
    void* object = reinterpret_cast<void*>(1);
    platform::Guid other = vyrdax::kClassId;
    other.data1 ^= 1;
    EXPECT_EQ(get(&other, &platform::IID_IClassFactory, &object), platform::CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(get(&vyrdax::kClassId, &platform::IID_IControl, &object), platform::E_NOINTERFACE);
    EXPECT_EQ(get(&vyrdax::kClassId, &platform::IID_IClassFactory, nullptr), platform::E_POINTER);
    ASSERT_EQ(get(&vyrdax::kClassId, &platform::IID_IClassFactory, &object), platform::S_OK);
    auto* factory = static_cast<platform::IClassFactory*>(object);
    platform::IControl* control = nullptr;
    EXPECT_EQ(factory->CreateInstance(nullptr, &control), platform::E_INVALIDARG);
    EXPECT_EQ(control, nullptr);
}

TEST_F(ModuleTest, RegistrationIntoAnUnwritablePlaceFailsWithTheTypeLibraryCode)
{
    setenv("VYR_REGISTRY", "/proc/vyr-no-such-dir/registry.ini", 1);
    EXPECT_EQ(Register(), vyrdax::SELFREG_E_TYPELIB);
}

// The container tool drives the registered control from a script and draws
// the host window.
TEST_F(ModuleTest, HostToolRunsTheExampleScript)
{
    ASSERT_EQ(Register(), platform::S_OK);
    const std::string png = (dir_ / "a.png").string();
    QProcess host;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("VYR_REGISTRY", QString::fromStdString(registry_));
    host.setProcessEnvironment(env);
    testsupport::EndWithTest(host);
    host.start(VYRHOST_PROGRAM, {"--size", "640x480"});
    ASSERT_TRUE(host.waitForStarted());
    const std::string script = "call setDispChannel 16\n"
                               "call SetConnectInfo \"Lobby-01\" \"Guest\" \"\" \"\" \"127.0.0.1\" 40000 0 1 0 0\n"
                               "call GetChannelName 0\n"
                               "call ReplaceWnd 16 0 0 0 0 0 0\n"
                               "call isReady 0\n"
                               "call GetStatus 70\n"
                               "call AboutBox\n"
                               "call SetStatus 0\n"
                               "call GetDVRData dump 4\n"
                               "grab " + png + "\n"
                               "quit\n";
    host.write(script.c_str());
    host.closeWriteChannel();
    ASSERT_TRUE(host.waitForFinished(30000));
    EXPECT_EQ(host.exitCode(), 0) << host.readAllStandardError().toStdString();
    const QString out = QString::fromUtf8(host.readAllStandardOutput());
    EXPECT_EQ(out,
              "= \n= \n= Lobby-01\n= \n= 1\n= 0\n! ERROR 0x80020006 unknown name\n"
              "! ERROR 0x8002000E wrong argument count\n= ptr\nHEX 00000000\n");

    QImage image(QString::fromStdString(png));
    ASSERT_EQ(image.size(), QSize(640, 480));
    // The first of 16 cells holds the pane: black video area, its grey title text.
    EXPECT_EQ(image.pixelColor(80, 70), QColor(Qt::black));
    int titlePixels = 0;
    for (int y = 1; y < 13; ++y)
        for (int x = 1; x < 88; ++x)
            titlePixels += image.pixelColor(x, y).red() > 100;
    EXPECT_GT(titlePixels, 20);
    // The second cell has no pane: the control's outline colour shows.
    EXPECT_EQ(image.pixelColor(240, 60), QColor(0xE9, 0xE9, 0xE9));
}

TEST_F(ModuleTest, HostToolExitsThreeWhenAWaitTimesOut)
{
    ASSERT_EQ(Register(), platform::S_OK);
    QProcess host;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("VYR_REGISTRY", QString::fromStdString(registry_));
    host.setProcessEnvironment(env);
    testsupport::EndWithTest(host);
    host.start(VYRHOST_PROGRAM, {});
    ASSERT_TRUE(host.waitForStarted());
    host.write("call setDispChannel 4\nwait 0x605 200\ncall isReady 0\n");
    host.closeWriteChannel();
    ASSERT_TRUE(host.waitForFinished(30000));
    EXPECT_EQ(host.exitCode(), 3);
    EXPECT_EQ(QString::fromUtf8(host.readAllStandardOutput()), "= \n! TIMEOUT 0x605\n");
}

} // namespace
