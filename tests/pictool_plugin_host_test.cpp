// The host side of pictool: LoadPlugin accepts PIC.BMI and refuses, with a
// reason, what is missing, not a library, not a plug-in, or a plug-in whose
// answers are not those of the PIC driver; drivers come from the descriptor.
#include <gtest/gtest.h>

#include <string>

#include "tests/test_support.h"
#include "tools/pictool/support/plugin_host.h"

namespace {

std::string BesideTests(const std::string& name)
{
    return ExecutableDirectory() + PathSeparator() + name;
}

std::string RefusalOf(const std::string& path)
{
    std::string error;
    std::unique_ptr<Plugin> plugin = LoadPlugin(path, error);
    EXPECT_EQ(plugin, nullptr) << path;
    return error;
}

} // namespace

TEST(LoadPlugin, AcceptsThePicDriverPlugin)
{
    std::string error;
    std::unique_ptr<Plugin> plugin = LoadPlugin(DefaultPluginPath(), error);
    ASSERT_NE(plugin, nullptr) << error;
    EXPECT_EQ(plugin->Path(), BesideTests("PIC.BMI"));
    EXPECT_EQ(plugin->Version(), 0x07D00500u);
    EXPECT_EQ(plugin->ClassCount(), 1);
    EXPECT_EQ(std::string(plugin->Description()).rfind("Softimage Picture File I/O Driver", 0), 0u);
    DriverPtr first = plugin->NewDriver();
    DriverPtr second = plugin->NewDriver();
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first.get(), second.get());
    EXPECT_STREQ(first->ShortDescription(), "PIC");
}

TEST(LoadPlugin, RefusesWhatIsNotAPicDriverPlugin)
{
    TempDir dir;
    const std::string text = dir.File("text.bmi");
    WriteFileBytes(text, Bytes(300, 'x'));
    const struct {
        std::string path;
        const char* reason;
    } cases[] = {
        {dir.File("absent.bmi"), "cannot load plug-in"},
        {text, "cannot load plug-in"},
#if defined(_WIN32)
        {BesideTests("bmm.dll"), "is not a host plug-in"},
#else
        {BesideTests("bmm.so"), "is not a host plug-in"},
#endif
        {BesideTests("fake_version.bmi"), "interface version 0x07D00400, expected 0x07D00500"},
        {BesideTests("fake_no_class.bmi"), "offers no class"},
        {BesideTests("fake_superclass.bmi"), "not an image-file driver (superclass 0x00000C10)"},
        {BesideTests("fake_class_id.bmi"), "not the PIC driver (class 0x12345678, 0x67733FA6)"},
    };
    for (const auto& refused : cases) {
        const std::string error = RefusalOf(refused.path);
        EXPECT_NE(error.find(refused.reason), std::string::npos) << error;
        EXPECT_NE(error.find(refused.path), std::string::npos) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    }
}
