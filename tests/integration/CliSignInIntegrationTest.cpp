#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "CliFixture.h"

namespace tallowdesk::test {
namespace {

namespace fs = std::filesystem;

// Every ClientLogin is a full password check on the service: a command signs
// in to the spreadsheet service only when it fetches a spreadsheet, and then
// once however many it fetches at once.
class CliSignIn : public CliTest {
protected:
    void SetUp() override {
        CliTest::SetUp();
        ASSERT_EQ(Run({"login", kEmail, "--remember"}), 0) << m_err.str();
        const fs::path plain = m_dir / "up" / "Plain";
        const fs::path sheets = m_dir / "up" / "sheets";
        fs::create_directories(plain);
        fs::create_directories(sheets);
        std::ofstream(plain / "a.txt") << "a\n";
        std::ofstream(plain / "b.txt") << "b\n";
        std::ofstream(sheets / "one.csv") << "a,b\n1,2\n";
        std::ofstream(sheets / "two.csv") << "c,d\n3,4\n";
        ASSERT_EQ(Run({"put", plain.string(), "--quiet"}), 0) << m_err.str();
        ASSERT_EQ(Run({"mkdir", "Mixed"}), 0) << m_err.str();
        ASSERT_EQ(Run({"put", (plain / "a.txt").string(), "--to", "Mixed", "--quiet"}), 0)
            << m_err.str();
        ASSERT_EQ(Run({"put", (sheets / "one.csv").string(), (sheets / "two.csv").string(), "--to",
                       "Mixed", "--convert", "--quiet"}),
                  0)
            << m_err.str();
    }

    // The services of the ClientLogins since the last call, in order.
    std::vector<std::string> SignIns() {
        std::vector<std::string> services;
        for (const LoggedRequest& r : NewRequests()) {
            if (r.method != "POST" || r.target != "/accounts/ClientLogin") continue;
            const std::size_t at = r.body.find("&service=");
            services.push_back(at == std::string::npos
                                   ? "?"
                                   : r.body.substr(at + 9, r.body.find('&', at + 9) - at - 9));
        }
        return services;
    }
};

TEST_F(CliSignIn, SpreadsheetServiceOnlyForSpreadsheets) {
    // A spreadsheet's default export needs a converter this service lacks:
    // its answer, past the token check, is the failure line.
    struct Case {
        std::vector<std::string> args;
        std::vector<std::string> services;
        int exit;
        std::size_t files;        // downloaded
        std::size_t unconverted;  // lines of spreadsheets the service could not convert
    };
    const Case cases[] = {
        {{"ls", "Plain"}, {"writely"}, 0, 0, 0},
        {{"get", "Plain"}, {"writely"}, 0, 2, 0},
        {{"get", "Mixed/a.txt"}, {"writely"}, 0, 1, 0},
        {{"get", "Mixed", "--transfers", "1"}, {"writely", "wise"}, 1, 1, 2},
        {{"get", "Mixed/one", "Mixed/two", "Mixed/a.txt", "--transfers", "4"},
         {"writely", "wise"},
         1,
         1,
         2},
        {{"export", "Mixed/one", "csv"}, {"writely", "wise"}, 0, 1, 0},
        {{"login", kEmail}, {"writely", "wise"}, 0, 0, 0},
    };
    SignIns();
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args[1]);
        const fs::path to = m_dir / "down" / std::to_string(n++);
        fs::create_directories(to);
        std::vector<std::string> args = c.args;
        if (args[0] == "get" || args[0] == "export")
            args.insert(args.end(), {"--to", to.string(), "--quiet"});
        EXPECT_EQ(Run(args), c.exit) << m_err.str();
        EXPECT_EQ(SignIns(), c.services);
        std::size_t unconverted = 0;
        for (std::size_t at = 0;
             (at = m_err.str().find("Converting to xls needs", at)) != std::string::npos; ++at)
            ++unconverted;
        EXPECT_EQ(unconverted, c.unconverted) << m_err.str();
        std::size_t files = 0;
        for (const auto& e : fs::recursive_directory_iterator(to)) files += e.is_regular_file();
        EXPECT_EQ(files, c.files);
    }
}

}  // namespace
}  // namespace tallowdesk::test
