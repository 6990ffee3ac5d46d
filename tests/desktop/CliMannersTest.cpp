// How tallowdesk-cli behaves as a command-line citizen: exit codes, --help
// and --version, errors on stderr only, titles with a colon, duplicate
// titles, the progress line, --quiet and --json. Against the local document service on a free
// loopback port.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "Cli.h"
#include "CliFixture.h"
#include "Store.h"

namespace tallowdesk::test {
namespace {

namespace fs = std::filesystem;

class CliManners : public CliTest {
protected:
    void SetUp() override {
        CliTest::SetUp();
        ::setenv("HOME", m_dir.c_str(), 1);
        ::setenv("XDG_DATA_HOME", (m_dir / "data").c_str(), 1);
        ::setenv("XDG_CACHE_HOME", (m_dir / "cache").c_str(), 1);
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

// The progress line is drawn (with its carriage return) only on a terminal
// and never with --quiet; --json gives one object per item on stdout; the
// exit codes stay those of the human output.
TEST_F(CliManners, ProgressQuietAndJsonResults) {
    SignInRemembered();
    const fs::path local = m_dir / "report.txt";
    std::ofstream(local) << "numbers\n";
    const fs::path fifo = m_dir / "pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const fs::path dest = m_dir / "dest";
    fs::create_directories(dest);
    ASSERT_EQ(Run({"put", local.string()}), 0) << m_err.str();
    ASSERT_EQ(Run({"mkdir", "Up"}), 0) << m_err.str();  // where the later uploads go
    server::NewEntry plan;
    plan.kind = "document";
    plan.title = "Plan";
    plan.mime = "text/plain";
    plan.content = "a plan";
    m_server->GetStore().Create(kEmail, plan);

    const struct {
        std::vector<std::string> args;
        bool terminal;
        int exitCode;
        bool progressDrawn;
        // --json: the statuses expected per item; empty: stdout stays empty
        std::vector<std::string> statuses;
    } cases[] = {
        {{"get", "report.txt", "--to", dest.string()}, true, 0, true, {}},
        {{"get", "report.txt", "--to", dest.string(), "--quiet"}, true, 0, false, {}},
        {{"get", "report.txt", "--to", dest.string()}, false, 0, false, {}},
        {{"get", "report.txt", "--to", dest.string(), "--json"}, false, 0, false, {"ok"}},
        {{"get", "report.txt", "--to", dest.string(), "--json"}, true, 0, true, {"ok"}},
        {{"export", "Plan", "txt", "--to", dest.string(), "--json", "--quiet"},
         true,
         0,
         false,
         {"ok"}},
        {{"export", "report.txt", "txt", "--to", dest.string(), "--json"}, true, 1, false, {}},
        {{"put", local.string(), "--to", "Up", "--quiet"}, true, 0, false, {}},
        {{"put", local.string(), "--to", "Up", "--json"}, false, 0, false, {"ok"}},
        {{"put", local.string(), fifo.string(), "--to", "Up", "--json"},
         false,
         1,
         false,
         {"ok", "failed"}},
        {{"put", fifo.string(), "--to", "Up"}, true, 1, true, {}},
        {{"put", fifo.string(), "--to", "Up", "--quiet"}, true, 1, false, {}},
        {{"put", fifo.string(), "--to", "Up"}, false, 1, false, {}},
    };
    for (const auto& c : cases) {
        std::string line;
        for (const auto& a : c.args) line += a + " ";
        SCOPED_TRACE(line + (c.terminal ? "(terminal)" : "(not a terminal)"));
        m_errIsTerminal = c.terminal;
        EXPECT_EQ(Run(c.args), c.exitCode) << m_err.str();
        const std::string err = m_err.str();
        EXPECT_EQ(err.find('\r') != std::string::npos, c.progressDrawn) << err;
        EXPECT_EQ(err.find("KB/s") != std::string::npos, c.progressDrawn) << err;
        if (c.exitCode == 0) {
            EXPECT_EQ(err.find("Failed"), std::string::npos) << err;
        } else {
            EXPECT_NE(err, "");  // the error lines stay on stderr
        }
        if (c.statuses.empty()) {
            EXPECT_EQ(m_out.str(), "");
            continue;
        }
        const auto results = nlohmann::json::parse(m_out.str(), nullptr, false);
        ASSERT_TRUE(results.is_array()) << m_out.str();
        ASSERT_EQ(results.size(), c.statuses.size()) << m_out.str();
        for (std::size_t i = 0; i < results.size(); ++i) {
            const auto& r = results[i];
            ASSERT_TRUE(r["title"].is_string() && r["status"].is_string() &&
                        r["detail"].is_string())
                << r.dump();
            EXPECT_EQ(r["status"], c.statuses[i]) << r.dump();
            EXPECT_EQ(r["detail"] == "", c.statuses[i] == "ok") << r.dump();
        }
        EXPECT_NE(results[0]["title"].get<std::string>().find(c.args[0] == "export" ? "Plan"
                                                                                    : "report.txt"),
                  std::string::npos);
    }
}

TEST_F(CliManners, QuotaAsJson) {
    SignInRemembered();
    ASSERT_EQ(Run({"quota"}), 0) << m_err.str();
    const std::string human = m_out.str();
    ASSERT_EQ(Run({"quota", "--json"}), 0) << m_err.str();
    EXPECT_EQ(m_err.str(), "");
    const auto quota = nlohmann::json::parse(m_out.str(), nullptr, false);
    ASSERT_TRUE(quota.is_object()) << m_out.str();
    ASSERT_TRUE(quota["text"].is_string()) << m_out.str();
    EXPECT_EQ(quota["text"].get<std::string>() + "\n", human);
    EXPECT_EQ(Run({"quota", "--quiet"}), 2);  // not an option of quota
}

}  // namespace
}  // namespace tallowdesk::test
