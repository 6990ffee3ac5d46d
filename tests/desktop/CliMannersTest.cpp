// How tallowdesk-cli behaves as a command-line citizen: exit codes, --help
// and --version, errors on stderr only, titles with a colon, and duplicate
// titles. Against the local document service on a free loopback port.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "Cli.h"
#include "IntegrationFixture.h"

namespace tallowdesk::test {
namespace {

namespace fs = std::filesystem;

class CliManners : public IntegrationTest {
protected:
    void SetUp() override {
        IntegrationTest::SetUp();
        const fs::path config = m_dir / "config";
        fs::create_directories(config / "Tallowdesk");
        std::ofstream(config / "Tallowdesk" / "Config.xml")
            << "<configure><user><email/><password/></user>"
               "<fileautoconvert>false</fileautoconvert><autoupdatecheck>true</autoupdatecheck>"
               "<docshost>"
            << Host() << "</docshost><accountshost>" << Host() << "</accountshost><cafile>"
            << m_server->CertPath() << "</cafile></configure>";
        ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
        ::setenv("HOME", m_dir.c_str(), 1);
        ::setenv("XDG_DATA_HOME", (m_dir / "data").c_str(), 1);
        ::setenv("XDG_CACHE_HOME", (m_dir / "cache").c_str(), 1);
    }
    void TearDown() override {
        ::unsetenv("XDG_CONFIG_HOME");
        IntegrationTest::TearDown();
    }

    int Run(std::vector<std::string> args, std::string answer = kPassword) {
        m_out.str({});
        m_err.str({});
        cli::CliIo io{m_out, m_err,
                      [answer](const std::string&, bool) { return std::optional(answer); }};
        return cli::RunCli(args, io);
    }
    void SignInRemembered() { ASSERT_EQ(Run({"login", kEmail, "--remember"}), 0) << m_err.str(); }
    // The resource ids of the root folder's entries with this title.
    std::vector<std::string> IdsTitled(const std::string& title) {
        EXPECT_EQ(Run({"ls", "/", "--json"}), 0) << m_err.str();
        std::vector<std::string> ids;
        for (const auto& e : nlohmann::json::parse(m_out.str())) {
            if (e["title"] == title) ids.push_back(e["resourceId"]);
        }
        return ids;
    }

    std::ostringstream m_out, m_err;
};

struct Case {
    std::vector<std::string> args;
    bool remembered;  // an account is remembered first
    int exitCode;
    const char* out;  // expected in stdout; nullptr: stdout stays empty
    const char* err;  // expected in stderr; nullptr: stderr stays empty
};

TEST_F(CliManners, ExitCodesAndStreams) {
    const Case cases[] = {
        {{"--version"}, false, 0, "tallowdesk-cli 1.", nullptr},
        {{"ls", "--help"}, false, 0, "Usage: tallowdesk-cli ls [LOCATION] [--json]", nullptr},
        {{"unstar", "-h"}, false, 0, "unstar PATH", nullptr},
        {{"put", "--help"}, false, 0, "--convert makes documents of convertible files", nullptr},
        {{"bogus", "--help"}, false, 2, nullptr, "unknown command bogus"},
        {{}, false, 2, nullptr, "Usage: tallowdesk-cli COMMAND"},
        {{"ls", "--bogus"}, false, 2, nullptr, "unknown option --bogus"},
        {{"rename", "only-one"}, true, 2, nullptr, "wrong number of arguments"},
        {{"ls"}, false, 3, nullptr, "No account is remembered."},
        {{"login", kEmail}, false, 3, nullptr, "not recognized."},
        {{"star", "Nothing here"}, true, 1, nullptr, "No such entry: Nothing here"},
    };
    for (const Case& c : cases) {
        std::string line;
        for (const auto& a : c.args) line += a + " ";
        SCOPED_TRACE(line);
        if (c.remembered) {
            SignInRemembered();
        } else {
            Run({"logout"});
        }
        EXPECT_EQ(Run(c.args, c.args.size() == 2 && c.args[0] == "login" ? "wrong" : kPassword),
                  c.exitCode);
        if (c.out) {
            EXPECT_NE(m_out.str().find(c.out), std::string::npos) << m_out.str();
        } else {
            EXPECT_EQ(m_out.str(), "");
        }
        if (c.err) {
            EXPECT_NE(m_err.str().find(c.err), std::string::npos) << m_err.str();
        } else {
            EXPECT_EQ(m_err.str(), "");
        }
    }
}

// Regression: a top-level "Notes: Q1" was taken for a resource id of kind
// "Notes" and could not be reached.
TEST_F(CliManners, TitlesWithAColonAreReachableByPath) {
    SignInRemembered();
    for (const std::string title : {"Notes: Q1", "notes:q1"}) {
        SCOPED_TRACE(title);
        ASSERT_EQ(Run({"mkdir", title}), 0) << m_err.str();
        EXPECT_EQ(Run({"ls", title}), 0) << m_err.str();
        EXPECT_EQ(Run({"star", title}), 0) << m_err.str();
    }
    EXPECT_EQ(Run({"rename", "Notes: Q1", "Notes: Q2"}), 0) << m_err.str();
    EXPECT_EQ(IdsTitled("Notes: Q2").size(), 1u);
    // A resource id still names its entry.
    const auto ids = IdsTitled("notes:q1");
    ASSERT_EQ(ids.size(), 1u);
    EXPECT_EQ(Run({"unstar", ids[0]}), 0) << m_err.str();
}

// Regression: of two entries with the same title the first was taken
// silently; now the command fails and names both.
TEST_F(CliManners, DuplicateTitlesAreAnErrorNamingBoth) {
    SignInRemembered();
    ASSERT_EQ(Run({"mkdir", "Twins"}), 0) << m_err.str();
    ASSERT_EQ(Run({"mkdir", "Twins"}), 0) << m_err.str();
    const auto ids = IdsTitled("Twins");
    ASSERT_EQ(ids.size(), 2u);

    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"star", "Twins"}, {"mkdir", "Twins/Inner"}, {"ls", "Twins"}}) {
        SCOPED_TRACE(args[0]);
        EXPECT_EQ(Run(args), 1);
        EXPECT_NE(m_err.str().find("2 entries are named \"Twins\""), std::string::npos)
            << m_err.str();
        for (const auto& id : ids) EXPECT_NE(m_err.str().find(id), std::string::npos) << id;
    }
    // Each is still reachable by its id.
    EXPECT_EQ(Run({"star", ids[1]}), 0) << m_err.str();
}

}  // namespace
}  // namespace tallowdesk::test
