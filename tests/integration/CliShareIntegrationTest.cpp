#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "Cli.h"
#include "CliFixture.h"

namespace tallowdesk::test {
namespace {

namespace fs = std::filesystem;

// The sharing commands of tallowdesk-cli against the local service.
class CliShareIntegration : public CliTest {
protected:
    void SetUp() override {
        CliTest::SetUp();
        ASSERT_EQ(Run({"login", kEmail, "--remember"}), 0) << m_err.str();
        ASSERT_EQ(Run({"mkdir", "Shared"}), 0) << m_err.str();
    }

    // "type:value=role" of each rule, from "acl --json".
    std::vector<std::string> Rules() {
        EXPECT_EQ(Run({"acl", "Shared", "--json"}), 0) << m_err.str();
        std::vector<std::string> rules;
        for (const auto& r : nlohmann::json::parse(m_out.str())) {
            EXPECT_TRUE(r["etag"].is_string());
            EXPECT_TRUE(r["editHref"].is_string());
            rules.push_back(r["scopeType"].get<std::string>() + ":" +
                            (r["scopeValue"].is_null() ? "" : r["scopeValue"].get<std::string>()) +
                            "=" + r["role"].get<std::string>());
        }
        return rules;
    }
};

TEST_F(CliShareIntegration, ANewRoleChangesTheExistingRule) {
    ASSERT_EQ(Run({"share", "Shared", "bob@example.test", "--role", "reader"}), 0) << m_err.str();
    EXPECT_EQ(Rules(), (std::vector<std::string>{"user:alice@example.test=owner",
                                                 "user:bob@example.test=reader"}));
    // Regression: this used to post a second rule, which the service refuses.
    ASSERT_EQ(Run({"share", "Shared", "Bob@example.test", "--role", "writer"}), 0) << m_err.str();
    EXPECT_EQ(Rules(), (std::vector<std::string>{"user:alice@example.test=owner",
                                                 "user:bob@example.test=writer"}));
    EXPECT_EQ(Run({"share", "Shared", "alice@example.test", "--role", "reader"}), 1);
    EXPECT_NE(m_err.str().find("alice@example.test  failed: "), std::string::npos);
}

TEST_F(CliShareIntegration, PublicAndPrivateSwitchTheDefaultRule) {
    ASSERT_EQ(Run({"share", "Shared", "--public"}), 0) << m_err.str();
    ASSERT_EQ(Run({"share", "Shared", "--public"}), 0) << m_err.str();  // already public
    EXPECT_EQ(Rules(),
              (std::vector<std::string>{"user:alice@example.test=owner", "default:=reader"}));
    ASSERT_EQ(Run({"acl", "Shared"}), 0);
    EXPECT_NE(m_out.str().find("anyone"), std::string::npos);
    ASSERT_EQ(Run({"share", "Shared", "--private"}), 0) << m_err.str();
    EXPECT_EQ(Rules(), (std::vector<std::string>{"user:alice@example.test=owner"}));
    EXPECT_EQ(Run({"share", "Shared", "--public", "--private"}), 2);
    EXPECT_EQ(Run({"share", "Shared"}), 2);
}

}  // namespace
}  // namespace tallowdesk::test
