#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "Cli.h"
#include "CliFixture.h"
#include "Store.h"
#include "settings/ConfigFile.h"

namespace tallowdesk::test {
namespace {

namespace fs = std::filesystem;

using CliIntegration = CliTest;

// Exit codes and messages of refused commands are CliManners.ExitCodesAndStreams.
TEST_F(CliIntegration, RememberedAccountDrivesEveryCommand) {
    EXPECT_EQ(Run({"login", kEmail, "--remember"}), 0) << m_err.str();
    EXPECT_EQ(ConfigFile().GetSavedEmail(), kEmail);
    EXPECT_EQ(ConfigFile().GetSavedPassword(), kPassword);

    ASSERT_EQ(Run({"mkdir", "Projects"}), 0) << m_err.str();
    ASSERT_EQ(Run({"mkdir", "Projects/2026"}), 0) << m_err.str();
    ASSERT_EQ(Run({"ls", "Projects", "--json"}), 0) << m_err.str();
    const auto listing = nlohmann::json::parse(m_out.str());
    ASSERT_EQ(listing.size(), 1u);
    EXPECT_EQ(listing[0]["title"], "2026");
    EXPECT_EQ(listing[0]["kind"], "folder");
    EXPECT_EQ(listing[0]["parentTitle"], "Projects");
    EXPECT_TRUE(listing[0]["quotaBytesUsed"].is_null());

    EXPECT_EQ(Run({"rename", "Projects/2026", "2027"}), 0) << m_err.str();
    EXPECT_EQ(Run({"star", "Projects/2027"}), 0) << m_err.str();
    EXPECT_EQ(Run({"ls", "Projects", "--json"}), 0);
    EXPECT_EQ(nlohmann::json::parse(m_out.str())[0]["starred"], true);
    EXPECT_EQ(Run({"ls", "/"}), 0);
    EXPECT_NE(m_out.str().find("Projects"), std::string::npos);
    EXPECT_NE(m_out.str().find("Last Modified"), std::string::npos);
    EXPECT_EQ(Run({"search", "2027"}), 0);
    EXPECT_NE(m_out.str().find("2027"), std::string::npos);

    EXPECT_EQ(Run({"trash", "Projects/2027"}), 0) << m_err.str();
    EXPECT_EQ(Run({"ls", "Trash"}), 0);
    EXPECT_NE(m_out.str().find("2027"), std::string::npos);
    EXPECT_EQ(Run({"ls", "Projects", "--json"}), 0);
    EXPECT_EQ(nlohmann::json::parse(m_out.str()).size(), 0u);

    EXPECT_EQ(Run({"logout"}), 0);
    EXPECT_FALSE(ConfigFile().GetSavedEmail());
    EXPECT_EQ(Run({"ls"}), 3);
}

// Regression: titles went raw to the terminal in `ls`, the progress line and
// the failure lines, so escape sequences in a title could recolour the
// terminal, set its title or overwrite "evil.txt" with "innocent.txt".
TEST_F(CliIntegration, TitlesAreShownWithTheirControlCharactersVisible) {
    ASSERT_EQ(Run({"login", kEmail, "--remember"}), 0) << m_err.str();
    // The service keeps C0 controls out of its XML, but XML carries C1 ones
    // (CSI, an escape sequence's start on 8-bit terminals) and the
    // right-to-left override that turns "exe.txt" round on screen.
    const std::string title =
        "evil.txt\xC2\x9B"
        "2K\xE2\x80\xAE"
        "txt.exe";
    const std::string shown = "evil.txt\\u009b2K\\u202etxt.exe";
    const auto raw = [](const std::string& text) {
        return text.find("\xC2\x9B") != std::string::npos ||
               text.find("\xE2\x80\xAE") != std::string::npos;
    };
    server::NewEntry entry;
    entry.kind = "file";
    entry.title = title;
    entry.mime = "text/plain";
    entry.content = "x";
    m_server->GetStore().Create(kEmail, entry);

    ASSERT_EQ(Run({"ls"}), 0) << m_err.str();
    EXPECT_NE(m_out.str().find(shown), std::string::npos) << m_out.str();
    EXPECT_FALSE(raw(m_out.str()));

    // A folder of that name is in the way: the download fails with a line.
    const fs::path dest = m_dir / "dest";
    fs::create_directories(dest / title);
    m_errIsTerminal = true;
    EXPECT_EQ(Run({"get", title, "--to", dest.string()}), 1);
    EXPECT_NE(m_err.str().find("[1/1] " + shown), std::string::npos) << m_err.str();
    EXPECT_NE(m_err.str().find(shown + "  Failed!:"), std::string::npos) << m_err.str();
    EXPECT_FALSE(raw(m_err.str()));
}

// put once sent every upload stored as it is unless --convert was given,
// whatever "fileautoconvert" said; the window follows the setting.
TEST_F(CliIntegration, PutFollowsFileAutoConvertUnlessConvertIsGiven) {
    ASSERT_EQ(Run({"login", kEmail, "--remember"}), 0) << m_err.str();
    const auto kindOf = [this](const std::string& stem) -> std::string {
        if (Run({"ls", "/", "--json"}) != 0) return "ls failed";
        for (const auto& e : nlohmann::json::parse(m_out.str()))
            if (e["title"].get<std::string>().rfind(stem, 0) == 0) return e["kind"];
        return "missing";
    };
    const struct {
        const char* stem;
        bool setting;
        bool convertFlag;
        const char* kind;
    } cases[] = {
        {"stored-note", false, false, "file"},
        {"flagged-note", false, true, "document"},
        {"setting-note", true, false, "document"},
    };
    for (const auto& c : cases) {
        ConfigFile().SetFileAutoConvert(c.setting);
        const fs::path local = m_dir / (std::string(c.stem) + ".txt");
        std::ofstream(local) << "a note\n";
        std::vector<std::string> args{"put", local.string()};
        if (c.convertFlag) args.push_back("--convert");
        ASSERT_EQ(Run(args), 0) << c.stem << ": " << m_err.str();
        EXPECT_EQ(kindOf(c.stem), c.kind) << c.stem;
    }
}

}  // namespace
}  // namespace tallowdesk::test
