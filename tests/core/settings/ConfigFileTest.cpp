#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <thread>

#include "Failure.h"
#include "TempDir.h"
#include "settings/CPasswordEncryption.h"
#include "settings/ConfigFile.h"
#include "settings/ServiceHosts.h"
#include "settings/TextEncoding.h"

namespace tallowdesk {
namespace {

namespace fs = std::filesystem;

class ConfigFileTest : public ::testing::Test {
protected:
    fs::path File() const { return m_dir / "Tallowdesk" / "Config.xml"; }
    void Write(const std::string& text) { test::WriteAll(File(), text); }
    std::string Read() const { return test::ReadAll(File()); }

    test::TempDir m_temp;
    const fs::path m_dir = m_temp.Path();
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

// Sets or unsets an environment variable for one scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : m_name(name) {
        if (const char* old = std::getenv(name)) m_old = old;
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnv() {
        if (m_old)
            ::setenv(m_name, m_old->c_str(), 1);
        else
            ::unsetenv(m_name);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

TEST_F(ConfigFileTest, DefaultPathFollowsXdg) {
    {
        ScopedEnv xdg("XDG_CONFIG_HOME", m_dir.c_str());
        EXPECT_EQ(ConfigFile::DefaultPath(), File());
    }
    ScopedEnv xdg("XDG_CONFIG_HOME", nullptr);
    ScopedEnv home("HOME", m_dir.c_str());
    EXPECT_EQ(ConfigFile::DefaultPath(), m_dir / ".config" / "Tallowdesk" / "Config.xml");
}

// Regression: without HOME and XDG folders the settings and the trusted CA
// fell back to a shared "/tmp/Tallowdesk", where another local user could
// plant hosts, "verifypeer" or a CA.
TEST_F(ConfigFileTest, NoPrivateFolderRefusesInsteadOfUsingTmp) {
    ScopedEnv xdgConfig("XDG_CONFIG_HOME", nullptr);
    ScopedEnv xdgData("XDG_DATA_HOME", "");
    ScopedEnv home("HOME", nullptr);
    EXPECT_EQ(test::Failure([] { ConfigFile::DefaultPath(); }),
              "Neither HOME nor XDG_CONFIG_HOME is set, so there is no private folder for the "
              "settings. Set HOME and start again.");
    EXPECT_THROW(ConfigFile(), std::runtime_error);
    EXPECT_EQ(ServiceHosts::Defaults().caFile, "") << "no CA from a shared folder";
}

// Every test runs with a HOME of its own (tests/support/run-isolated.sh), so
// the suite cannot touch the settings of the person running it.
TEST_F(ConfigFileTest, TheTestRunsWithItsOwnHome) {
    const char* home = std::getenv("HOME");
    const char* config = std::getenv("XDG_CONFIG_HOME");
    ASSERT_NE(home, nullptr);
    ASSERT_NE(config, nullptr);
    const passwd* user = ::getpwuid(::getuid());
    ASSERT_NE(user, nullptr);
    EXPECT_NE(fs::path(home), fs::path(user->pw_dir));
    EXPECT_NE(fs::path(config), fs::path(user->pw_dir) / ".config");
    EXPECT_TRUE(fs::is_empty(config)) << "a fresh folder per test";
}

// Regression: every save wrote the same "Config.xml.tmp", so two programs
// saving at once wrote into each other's file.
TEST_F(ConfigFileTest, ASaveLeavesAnotherWritersTemporaryFileAlone) {
    ConfigFile config(File());
    const fs::path other = File().string() + ".tmp";
    std::ofstream(other, std::ios::binary) << "another program's half-written save";
    ASSERT_TRUE(config.SaveUser("a@example.com", "pw"));
    EXPECT_EQ(test::ReadAll(other), "another program's half-written save");
    EXPECT_EQ(ConfigFile(File()).GetSavedEmail(), "a@example.com");
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(File().parent_path())) ++files;
    EXPECT_EQ(files, 2u) << "no temporary file of our own is left behind";
}

TEST_F(ConfigFileTest, SavesAtTheSameTimeEachLeaveAWholeFile) {
    ConfigFile(File()).SaveUser("start@example.com", "pw");
    std::atomic<int> failed{0};
    const auto saver = [&](const std::string& email) {
        for (int i = 0; i < 50; ++i) {
            ConfigFile config(File());
            if (!config.Loaded() || !config.SaveUser(email, "pw")) ++failed;
        }
    };
    std::thread a(saver, "a@example.com"), b(saver, "b@example.com");
    a.join();
    b.join();
    EXPECT_EQ(failed.load(), 0);
    const std::optional<std::string> last = ConfigFile(File()).GetSavedEmail();
    EXPECT_TRUE(last == "a@example.com" || last == "b@example.com") << last.value_or("(none)");
}

TEST_F(ConfigFileTest, SwitchesTakeOnlyTheExactWord) {
    Write(
        "<configure><fileautoconvert>TRUE</fileautoconvert>"
        "<autoupdatecheck>no</autoupdatecheck></configure>");
    ConfigFile config(File());
    EXPECT_FALSE(config.GetFileAutoConvert());
    EXPECT_TRUE(config.GetAutoUpdateCheck());
    Write("<configure><autoupdatecheck></autoupdatecheck></configure>");
    EXPECT_TRUE(ConfigFile(File()).GetAutoUpdateCheck());
}

TEST_F(ConfigFileTest, ClearUserKeepsTheElements) {
    Write(
        "<configure><user><email>a@b</email><password>C75D9CAD89C0</password></user>"
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
    EXPECT_EQ(test::Failure([&] { ConfigFile(File()).GetSavedPassword(); }),
              "Password Decryption failed.");
}

TEST_F(ConfigFileTest, HostOverrides) {
    Write(
        "<configure><docshost>docs.example:8443</docshost><schemashost>s.example</schemashost>"
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

// The window opened https:// pages of the local service, which serves its
// browser pages over plain http: every link stopped at a certificate warning.
TEST(AccountsPageUrlTest, PlainHttpOnlyOnThisMachine) {
    struct Case {
        const char* host;
        const char* expected;
    };
    const Case cases[] = {
        {"localhost:48443", "http://localhost:48443/accounts/NewAccount"},
        {"127.0.0.1:9", "http://127.0.0.1:9/accounts/NewAccount"},
        {"[::1]:48443", "http://[::1]:48443/accounts/NewAccount"},
        {"localhost", "http://localhost/accounts/NewAccount"},
        {"docs.example.test:443", "https://docs.example.test:443/accounts/NewAccount"},
        {"localhost.example.test", "https://localhost.example.test/accounts/NewAccount"},
        {"127.example.test", "https://127.example.test/accounts/NewAccount"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(tallowdesk::AccountsPageUrl(c.host, "/accounts/NewAccount"), c.expected)
            << c.host;
}
