#include "settings/ConfigFile.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <unistd.h>

#include "settings/CPasswordEncryption.h"
#include "settings/TextEncoding.h"

namespace tallowdesk {
namespace {

namespace fs = std::filesystem;

class ConfigFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = fs::temp_directory_path() /
                ("tallowdesk-config-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
    }
    void TearDown() override { fs::remove_all(m_dir); }

    fs::path File() const { return m_dir / "Tallowdesk" / "Config.xml"; }
    void Write(const std::string& text) {
        fs::create_directories(File().parent_path());
        std::ofstream(File(), std::ios::binary) << text;
    }
    std::string Read() const {
        std::ifstream in(File(), std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }

    fs::path m_dir;
};

TEST_F(ConfigFileTest, MissingFileGetsTheEmptyLayout) {
    {
        ConfigFile config(File());
        EXPECT_TRUE(fs::exists(File()));
        EXPECT_FALSE(config.GetSavedEmail());
        EXPECT_FALSE(config.GetSavedPassword());
        EXPECT_FALSE(config.GetFileAutoConvert());
        EXPECT_TRUE(config.GetAutoUpdateCheck());
        EXPECT_TRUE(config.SaveUser("me@example.com", "secret"));
        config.SetFileAutoConvert(true);
        config.SetAutoUpdateCheck(false);
    }
    ConfigFile again(File());
    EXPECT_EQ(again.GetSavedEmail(), "me@example.com");
    EXPECT_EQ(again.GetSavedPassword(), "secret");
    EXPECT_TRUE(again.GetFileAutoConvert());
    EXPECT_FALSE(again.GetAutoUpdateCheck());
    EXPECT_NE(Read().find("<password>C75D9CAD89C0</password>"), std::string::npos);
}

TEST_F(ConfigFileTest, DefaultPathFollowsXdg) {
    const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
    ::setenv("XDG_CONFIG_HOME", m_dir.c_str(), 1);
    EXPECT_EQ(ConfigFile::DefaultPath(), File());
    ::unsetenv("XDG_CONFIG_HOME");
    ::setenv("HOME", m_dir.c_str(), 1);
    EXPECT_EQ(ConfigFile::DefaultPath(), m_dir / ".config" / "Tallowdesk" / "Config.xml");
    ::setenv("HOME", home.c_str(), 1);
}

TEST_F(ConfigFileTest, SwitchesTakeOnlyTheExactWord) {
    Write("<configure><fileautoconvert>TRUE</fileautoconvert>"
          "<autoupdatecheck>no</autoupdatecheck></configure>");
    ConfigFile config(File());
    EXPECT_FALSE(config.GetFileAutoConvert());
    EXPECT_TRUE(config.GetAutoUpdateCheck());
    Write("<configure><autoupdatecheck></autoupdatecheck></configure>");
    EXPECT_TRUE(ConfigFile(File()).GetAutoUpdateCheck());
}

TEST_F(ConfigFileTest, ClearUserKeepsTheElements) {
    Write("<configure><user><email>a@b</email><password>C75D9CAD89C0</password></user>"
          "</configure>");
    ConfigFile(File()).ClearUser();
    const std::string text = Read();
    EXPECT_NE(text.find("<email/>"), std::string::npos) << text;
    EXPECT_NE(text.find("<password/>"), std::string::npos) << text;
    EXPECT_FALSE(ConfigFile(File()).GetSavedEmail());
}

TEST_F(ConfigFileTest, WritesNeedTheirElements) {
    Write("<configure><user><email>old@b</email></user></configure>");
    {
        ConfigFile config(File());
        EXPECT_FALSE(config.SaveUser("new@b", "pw"));  // no "password": nothing stored
        config.SetFileAutoConvert(true);               // no element: nothing happens
    }
    EXPECT_EQ(Read(), "<configure><user><email>old@b</email></user></configure>");
    Write("<configure/>");
    EXPECT_FALSE(ConfigFile(File()).SaveUser("a", "b"));
}

TEST_F(ConfigFileTest, MalformedFileIsLeftAlone) {
    Write("<configure><user>");
    {
        ConfigFile config(File());
        EXPECT_FALSE(config.Loaded());
        EXPECT_FALSE(config.GetSavedEmail());
        EXPECT_TRUE(config.GetAutoUpdateCheck());
        EXPECT_FALSE(config.SaveUser("a@b", "pw"));
    }
    EXPECT_EQ(Read(), "<configure><user>");
}

TEST_F(ConfigFileTest, WindowsAnsiTextIsRead) {
    // "Jos\xE9" is Windows-1252 for José; the password hex decrypts to "p\xE4ss".
    const std::string hex = CPasswordEncryption().Encrypt("p\xE4ss");
    Write("<configure><user><email>Jos\xE9@example.com</email><password>" + hex +
          "</password></user></configure>");
    ConfigFile config(File());
    EXPECT_EQ(config.GetSavedEmail(), "Jos\xC3\xA9@example.com");
    EXPECT_EQ(config.GetSavedPassword(), "p\xC3\xA4ss");
    EXPECT_EQ(Windows1252ToUtf8("\x80\x81\x9F"), "\xE2\x82\xAC\xC2\x81\xC5\xB8");
    EXPECT_TRUE(IsValidUtf8("\xF0\x9F\x98\x80"));
    EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));  // overlong
    EXPECT_FALSE(IsValidUtf8("\xE2\x82"));  // cut short
}

TEST_F(ConfigFileTest, CorruptPasswordIsAnError) {
    Write("<configure><user><email>a@b</email><password>XYZ!</password></user></configure>");
    try {
        ConfigFile(File()).GetSavedPassword();
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Password Decryption failed.");
    }
}

TEST_F(ConfigFileTest, HostOverrides) {
    Write("<configure><docshost>docs.example:8443</docshost><schemashost>s.example</schemashost>"
          "<cafile>/etc/ca.pem</cafile><verifypeer>false</verifypeer><homehost></homehost>"
          "</configure>");
    const ServiceHosts h = ConfigFile(File()).GetServiceHosts();
    const ServiceHosts d = ServiceHosts::Defaults();
    EXPECT_EQ(h.docsHost, "docs.example:8443");
    EXPECT_EQ(h.schemasHost, "s.example");
    EXPECT_EQ(h.caFile, "/etc/ca.pem");
    EXPECT_FALSE(h.verifyPeer);
    EXPECT_EQ(h.accountsHost, d.accountsHost);
    EXPECT_EQ(h.homeHost, d.homeHost);  // empty text keeps the default
    EXPECT_TRUE(d.verifyPeer);
    EXPECT_EQ(d.schemasHost, "schemas.google.com");
}

}  // namespace
}  // namespace tallowdesk
