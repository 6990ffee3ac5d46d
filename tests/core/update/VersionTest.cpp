#include <gtest/gtest.h>

#include "update/UpdateCheck.h"
#include "update/Version.h"

namespace tallowdesk {
namespace {

struct CompareCase {
    const char* a;
    const char* b;
    int expected;
};

TEST(CompareVersions, FollowsTheGroupRules) {
    const CompareCase cases[] = {
        {"1.0.3", "1.0.2.0", 1},
        {"1.0.3", "1.0.3.0", 0},
        {"1.2", "1.2.0.0", 0},
        {"1.10", "1.9", 1},
        {"1.9", "1.10", -1},
        {"2", "1.99.99.99", 1},
        {"1..2", "1.2", 0},   // a run of dots is one separator
        {".1.2.", "1.2", 0},  // leading and trailing dots are ignored
        {"1.2.3.4", "1.2.3.5", -1},
        {"007", "7", 0},
        {"1.2.3.4.5", "1.0", kVersionAMalformed},  // five groups
        {"1.0", "1.2.3.4.5", kVersionBMalformed},
        {"1.0b", "1.0", kVersionAMalformed},
        {"", "1.0", kVersionAMalformed},
        {"...", "1.0", kVersionAMalformed},
        {"1.0\n", "1.0", kVersionAMalformed},  // a line break is not a digit
        {"-1", "1.0", kVersionAMalformed},
        {" 1.0", "1.0", kVersionAMalformed},
        {"1.0", "", kVersionBMalformed},
        {"x", "y", kVersionAMalformed},  // the first text is judged first
        // Regression: a huge group must not wrap around and look small.
        {"99999999999999999999999", "1.0", 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CompareVersions(c.a, c.b), c.expected) << '"' << c.a << "\" vs \"" << c.b << '"';
    }
}

TEST(FormatVersion, WritesTwoOrFourGroups) {
    EXPECT_EQ(FormatVersion({1, 2, 0, 0}), "1.2");
    EXPECT_EQ(FormatVersion({1, 0, 2, 0}), "1.0.2.0");
    EXPECT_EQ(FormatVersion({1, 0, 0, 7}), "1.0.0.7");
    EXPECT_EQ(FormatVersion({0, 0, 0, 0}), "");
    EXPECT_EQ(FormatVersion({0, 1, 0, 0}), "0.1");
}

TEST(RunningVersion, ComesFromTheProjectVersion) {
    EXPECT_EQ(RunningVersion(), TALLOWDESK_EXPECTED_VERSION);
}

struct JudgeCase {
    const char* published;
    const char* running;
    UpdateCheckResult expected;
};

TEST(JudgeUpdateText, OffersOnlyANewerWellFormedVersion) {
    const JudgeCase cases[] = {
        {"1.0.3", "1.0.2.0", UpdateCheckResult::Available},
        {"1.0.3", "1.0.3.0", UpdateCheckResult::NotNewer},
        {"1.0.3\n", "1.0.2.0", UpdateCheckResult::NotNewer},
        {"1.0.3\r\n", "1.0.2.0", UpdateCheckResult::NotNewer},
        {"1.2.3.4.5", "1.0", UpdateCheckResult::NotNewer},
        {"1.0b", "0.9", UpdateCheckResult::NotNewer},
        {"0.9", "1.0", UpdateCheckResult::NotNewer},
        {"", "1.0", UpdateCheckResult::NothingRead},
        {"2.0", "", UpdateCheckResult::NoRunningVersion},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(JudgeUpdateText(c.published, c.running).result, c.expected)
            << '"' << c.published << "\" vs \"" << c.running << '"';
    }
    EXPECT_EQ(JudgeUpdateText("2.5", "1.0").publishedVersion, "2.5");
}

}  // namespace
}  // namespace tallowdesk
