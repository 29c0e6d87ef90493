#include "platform/Registry.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() / ("vyr-registry-" + std::to_string(getpid()) + "-" +
                                             ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        path_ = (dir_ / "nested" / "registry.ini").string();
        setenv("VYR_REGISTRY", path_.c_str(), 1);
    }
    void TearDown() override
    {
        unsetenv("VYR_REGISTRY");
        fs::remove_all(dir_);
    }
    fs::path dir_;
    std::string path_;
};

TEST_F(RegistryTest, WritesReadsAndDeletesKeysWithoutRegardToCase)
{
    EXPECT_EQ(platform::RegistryPath(), path_);
    EXPECT_FALSE(platform::RegistryReadString("Software\\Vyrdax", "LookupHost"));
    ASSERT_TRUE(platform::RegistryWriteString("Software\\Vyrdax", "LookupHost", "127.0.0.1"));
    ASSERT_TRUE(platform::RegistryWriteInt("Software\\Vyrdax", "LookupPort", 61991));
    ASSERT_TRUE(platform::RegistryWriteString("Software\\Vyrdax\\JpegCodec", "USECPU", "3"));
    EXPECT_EQ(platform::RegistryReadString("SOFTWARE\\vyrdax", "LookupHost").value_or(""), "127.0.0.1");
    EXPECT_EQ(platform::RegistryReadInt("Software\\Vyrdax", "LookupPort").value_or(0), 61991);
    EXPECT_FALSE(platform::RegistryReadInt("Software\\Vyrdax", "LookupHost")); // not a number

    auto sub = platform::RegistrySubKeys("Software\\Vyrdax");
    ASSERT_EQ(sub.size(), 1u);
    EXPECT_EQ(sub[0], "JpegCodec");

    // The default value of a key is the empty name.
    ASSERT_TRUE(platform::RegistryWriteString("Prog.Id.1\\CLSID", "", "{X}"));
    EXPECT_EQ(platform::RegistryReadString("prog.id.1\\clsid", "").value_or(""), "{X}");

    ASSERT_TRUE(platform::RegistryDeleteKey("Software\\Vyrdax"));
    EXPECT_FALSE(platform::RegistryReadString("Software\\Vyrdax", "LookupHost"));
    EXPECT_FALSE(platform::RegistryReadString("Software\\Vyrdax\\JpegCodec", "USECPU"));
    EXPECT_TRUE(platform::RegistryReadString("Prog.Id.1\\CLSID", ""));
}

TEST_F(RegistryTest, RefusesValuesThatWouldBreakTheFile)
{
    EXPECT_FALSE(platform::RegistryWriteString("K", "name", "two\nlines"));
    EXPECT_FALSE(platform::RegistryWriteString("K", "a=b", "v"));
    EXPECT_FALSE(platform::RegistryReadString("K", "name"));
}

TEST_F(RegistryTest, SkipsDamagedLinesOfAHandEditedFile)
{
    fs::create_directories(fs::path(path_).parent_path());
    std::ofstream(path_) << "garbage line\n[Good]\nvalue = 7 \n[unterminated\nx=1\n";
    EXPECT_EQ(platform::RegistryReadInt("good", "value").value_or(0), 7);
    ASSERT_TRUE(platform::RegistryWriteString("Other", "v", "1"));
    EXPECT_EQ(platform::RegistryReadInt("Good", "value").value_or(0), 7);
}

} // namespace
