#include <exception>
#include <filesystem>
#include <latch>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ServerTestSupport.h"

namespace tallowdesk::server::test {
namespace {

namespace fs = std::filesystem;

// Two processes behind a balancer, started by one command on a new data
// folder. Each failed now and then: both added the same columns ("duplicate
// column name", and that one did not start), each kept a paging secret of
// its own (the next link of one refused by the other as damaged) and each
// served a certificate of its own, of which the folder kept only one, so a
// proxy trusting the file refused the other process. The race shows only
// in some starts: several rounds, each on a new folder.
TEST(SharedFolderStartTest, ProcessesStartedTogetherShareSchemaPagingSecretAndCertificate) {
    constexpr int kRounds = 10;
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        TempDir dir;
        const fs::path data = dir.Path() / "data";
        const ServerOptions options = TestOptions(data);
        std::unique_ptr<Server> servers[2];
        std::exception_ptr failures[2];
        std::latch ready(2);
        auto start = [&](int i) {
            ready.arrive_and_wait();
            try {
                servers[i] = std::make_unique<Server>(options);
                servers[i]->Start();
            } catch (...) {
                failures[i] = std::current_exception();
            }
        };
        std::thread first(start, 0);
        std::thread second(start, 1);
        first.join();
        second.join();
        for (const auto& failure : failures) {
            if (!failure) continue;
            try {
                std::rethrow_exception(failure);
            } catch (const std::exception& e) {
                FAIL() << "a process did not start: " << e.what();
            }
        }
        EXPECT_EQ(servers[0]->GetStore().PageKeySecret(), servers[1]->GetStore().PageKeySecret());
        const std::string inFile = CertificateFileDigest(servers[0]->CertPath());
        ASSERT_FALSE(inFile.empty());
        for (const auto& server : servers) {
            EXPECT_EQ(RawTls(server->Port()).Fingerprint(), inFile)
                << "a process serves a certificate the folder no longer holds";
        }
        if (HasFailure()) return;
    }
}

// A process started with a name the folder's certificate lacks made it
// again, while the processes already serving kept the old one: the proxy and
// the clients then trusted the file, and refused those processes.
TEST(SharedFolderStartTest, ANewNameDoesNotTakeTheCertificateFromProcessesServingIt) {
    struct Case {
        const char* what;
        bool firstStillServes;
        std::vector<std::string> secondNames;
        bool secondStarts;
        bool certificateMadeAgain;
    };
    const Case cases[] = {
        {"same names, first serving", true, {"docs.example.test"}, true, false},
        {"a new name, first serving",
         true,
         {"docs.example.test", "other.example.test"},
         false,
         false},
        {"a new name, first stopped",
         false,
         {"docs.example.test", "other.example.test"},
         true,
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const fs::path data = dir.Path() / "data";
        ServerOptions firstOptions = TestOptions(data);
        firstOptions.hostNames = {"docs.example.test"};
        auto first = std::make_unique<Server>(firstOptions);
        first->Start();
        const std::string before = CertificateFileDigest(first->CertPath());
        ASSERT_FALSE(before.empty());
        if (!c.firstStillServes) first.reset();

        ServerOptions secondOptions = TestOptions(data);
        secondOptions.hostNames = c.secondNames;
        auto second = std::make_unique<Server>(secondOptions);
        std::string refusal;
        try {
            second->Start();
        } catch (const std::exception& e) {
            refusal = e.what();
        }
        EXPECT_EQ(refusal.empty(), c.secondStarts) << refusal;
        if (!c.secondStarts) {
            EXPECT_NE(refusal.find("another process serves this folder"), std::string::npos)
                << refusal;
        }
        const std::string after = CertificateFileDigest(second->CertPath());
        EXPECT_EQ(after != before, c.certificateMadeAgain);
        if (first) {
            EXPECT_EQ(RawTls(first->Port()).Fingerprint(), after);
        }
        if (c.secondStarts) {
            EXPECT_EQ(RawTls(second->Port()).Fingerprint(), after);
        }
    }
}

}  // namespace
}  // namespace tallowdesk::server::test
