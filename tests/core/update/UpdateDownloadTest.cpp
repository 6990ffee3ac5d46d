#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <future>
#include <mutex>
#include <thread>

#include "ScopedHosts.h"
#include "TestSigner.h"
#include "TlsResponder.h"
#include "update/SignatureVerifier.h"
#include "update/UpdateCheck.h"
#include "update/UpdateDownload.h"

namespace tallowdesk {
namespace {

namespace fs = std::filesystem;
using test::ReadAll;
using test::WriteAll;

class UpdateDownloadTest : public ::testing::Test {
protected:
    test::TlsResponder m_responder;
    test::ScopedHosts m_hosts{test::HostsFor("127.0.0.1:1", m_responder.CertFile())};
    test::TempDir m_install;
    test::TempDir m_temp;
    test::TestSigner m_signer;
    std::vector<std::vector<std::string>> m_launched;

    std::string FolderUrl() const { return m_responder.Url("/updatefiles/"); }

    UpdateInstallPlan Plan() {
        UpdateInstallPlan plan;
        plan.version = "2.0";
        plan.runningVersion = "1.0";
        plan.folderUrl = FolderUrl();
        plan.executable = m_install.Path() / "tallowdesk";
        plan.publicKeyHex = m_signer.PublicKeyHex();
        plan.tempRoot = m_temp.Path();
        plan.updater = m_install.Path() / "tallowdesk-updater";
        plan.waitPid = 4242;
        plan.launch = [this](const std::vector<std::string>& argv) {
            m_launched.push_back(argv);
            return true;
        };
        WriteAll(plan.executable, "old program");
        return plan;
    }

    // The signature of text as a release would carry it.
    std::string SignatureOf(const std::string& text, const std::string& version = "2.0") {
        const fs::path file = m_install.Path() / "to-sign";
        WriteAll(file, text);
        std::string signature = m_signer.Sign(file, version);
        fs::remove(file);
        return signature;
    }

    bool TempIsEmpty() const { return fs::is_empty(m_temp.Path()); }
};

struct CheckCase {
    const char* name;
    int status;
    const char* body;
    UpdateCheckResult expected;
};

TEST_F(UpdateDownloadTest, CheckReadsUpdateTextOverVerifiedHttps) {
    const CheckCase cases[] = {
        {"newer", 200, "1.0.3", UpdateCheckResult::Available},
        {"same", 200, "1.0.2", UpdateCheckResult::NotNewer},
        {"not found", 404, "1.0.3", UpdateCheckResult::OpenFailed},
        {"empty", 200, "", UpdateCheckResult::NothingRead},
        {"line break", 200, "1.0.3\n", UpdateCheckResult::NotNewer},
        {"five groups", 200, "1.0.3.0.1", UpdateCheckResult::NotNewer},
    };
    for (const auto& c : cases) {
        m_responder.Push({c.status, c.body, {}});
        const auto outcome = CheckForUpdate(FolderUrl(), "1.0.2.0");
        EXPECT_EQ(outcome.result, c.expected) << c.name;
        if (c.expected == UpdateCheckResult::Available) {
            EXPECT_EQ(outcome.publishedVersion, "1.0.3");
        }
    }
    const auto requests = m_responder.Requests();
    ASSERT_EQ(requests.size(), std::size(cases));
    EXPECT_EQ(requests[0].target, "/updatefiles/update.txt");
}

TEST_F(UpdateDownloadTest, CheckRefusesAServerItCannotVerify) {
    test::ScopedHosts untrusted(test::HostsFor("127.0.0.1:1", ""));
    m_responder.Push({200, "9.0", {}});
    EXPECT_EQ(CheckForUpdate(FolderUrl(), "1.0").result, UpdateCheckResult::OpenFailed);
}

TEST_F(UpdateDownloadTest, ASignedProgramIsStagedExecutableAndHandedToTheUpdater) {
    const auto plan = Plan();
    m_responder.Push({200, "new program", {}});
    const std::string signature = SignatureOf("new program");
    m_responder.Push({200, signature, {}});
    m_responder.Push({200, "what is new", {}});
    WriteAll(m_install.Path() / "OldExecutable.bak", "from the last update");

    const auto outcome = DownloadUpdate(plan);

    ASSERT_EQ(outcome.result, UpdateInstallResult::Started);
    const auto requests = m_responder.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].target, "/updatefiles/tallowdesk");
    EXPECT_EQ(requests[1].target, "/updatefiles/tallowdesk.sig");
    EXPECT_EQ(requests[2].target, "/updatefiles/readme.txt");
    EXPECT_EQ(ReadAll(outcome.stagedProgram), "new program");
    EXPECT_EQ(ReadAll(outcome.stagedProgram.parent_path() / "readme.txt"), "what is new");
    // The updater checks it again from here right before the swap.
    EXPECT_EQ(ReadAll(outcome.stagedProgram.string() + ".sig"), signature);
    EXPECT_EQ(outcome.stagedProgram.parent_path().parent_path(), m_temp.Path());
    struct stat info {};
    ASSERT_EQ(::stat(outcome.stagedProgram.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    ASSERT_EQ(::stat(outcome.stagedProgram.parent_path().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u) << "the download folder is private";
    EXPECT_FALSE(fs::exists(m_install.Path() / "OldExecutable.bak"));
    ASSERT_EQ(m_launched.size(), 1u);
    const std::vector<std::string> expected = {plan.updater.string(),
                                               "--wait-pid",
                                               "4242",
                                               "--target",
                                               plan.executable.string(),
                                               "--new",
                                               outcome.stagedProgram.string(),
                                               "--version",
                                               "2.0",
                                               "--running-version",
                                               "1.0"};
    EXPECT_EQ(m_launched[0], expected);
}

struct RefusedCase {
    const char* name;
    int signatureStatus;
    std::string signature;
};

TEST_F(UpdateDownloadTest, AProgramWithoutItsRightSignatureLeavesNothingBehind) {
    const auto plan = Plan();
    test::TestSigner other;
    const fs::path file = m_install.Path() / "to-sign";
    WriteAll(file, "new program");
    const RefusedCase cases[] = {
        {"missing", 404, SignatureOf("new program")},
        {"malformed", 200, "not a signature"},
        {"tampered program", 200, SignatureOf("the program as released")},
        {"other key", 200, other.Sign(file, "2.0")},
        // An older release, rightly signed, published as the newer version.
        {"older build", 200, SignatureOf("new program", "1.5")},
        {"empty", 200, ""},
    };
    for (const auto& c : cases) {
        m_responder.Push({200, "new program", {}});
        m_responder.Push({c.signatureStatus, c.signature, {}});
        m_responder.Push({404, "", {}});
        EXPECT_EQ(DownloadUpdate(plan).result, UpdateInstallResult::SignatureRefused) << c.name;
        EXPECT_TRUE(TempIsEmpty()) << c.name;
    }
    EXPECT_TRUE(m_launched.empty());
    EXPECT_EQ(ReadAll(plan.executable), "old program");
}

TEST_F(UpdateDownloadTest, WithoutABuiltInKeyNothingIsTrusted) {
    auto plan = Plan();
    plan.publicKeyHex.clear();
    m_responder.Push({200, "new program", {}});
    m_responder.Push({200, SignatureOf("new program"), {}});
    m_responder.Push({404, "", {}});
    EXPECT_EQ(DownloadUpdate(plan).result, UpdateInstallResult::SignatureRefused);
    EXPECT_TRUE(m_launched.empty());
}

TEST_F(UpdateDownloadTest, AMissingProgramOrUpdaterEndsInAFailure) {
    auto plan = Plan();
    m_responder.Push({404, "", {}});
    EXPECT_EQ(DownloadUpdate(plan).result, UpdateInstallResult::OpenFailed);
    EXPECT_TRUE(TempIsEmpty());

    plan.launch = [](const std::vector<std::string>&) { return false; };
    m_responder.Push({200, "new program", {}});
    m_responder.Push({200, SignatureOf("new program"), {}});
    m_responder.Push({404, "", {}});
    EXPECT_EQ(DownloadUpdate(plan).result, UpdateInstallResult::StartFailed);
    EXPECT_TRUE(TempIsEmpty());
}

struct NotNewerCase {
    const char* offered;
    const char* running;
};

TEST_F(UpdateDownloadTest, AVersionNotNewerThanTheRunningOneIsNotEvenFetched) {
    const NotNewerCase cases[] = {
        {"1.0", "1.0"}, {"0.9", "1.0"}, {"1.0.0.0", "1.0"},
        {"", "1.0"},    {"2.0", ""},    {"2.0b", "1.0"},
    };
    for (const auto& c : cases) {
        auto plan = Plan();
        plan.version = c.offered;
        plan.runningVersion = c.running;
        EXPECT_EQ(DownloadUpdate(plan).result, UpdateInstallResult::NotNewer) << c.offered;
    }
    EXPECT_TRUE(m_responder.Requests().empty());
    EXPECT_TRUE(m_launched.empty());
}

TEST_F(UpdateDownloadTest, ADownloadPastItsCapIsRefusedOrLeftOut) {
    auto plan = Plan();
    plan.maxProgramBytes = 10;
    m_responder.Push({200, "new program", {}});  // 11 bytes
    EXPECT_EQ(DownloadUpdate(plan).result, UpdateInstallResult::DownloadFailed);
    EXPECT_TRUE(TempIsEmpty());
    EXPECT_TRUE(m_launched.empty());

    // Release notes past theirs are dropped whole; the update goes on.
    plan.maxProgramBytes = 11;
    plan.maxReadmeBytes = 4;
    m_responder.Push({200, "new program", {}});
    m_responder.Push({200, SignatureOf("new program"), {}});
    m_responder.Push({200, "what is new", {}});
    const auto outcome = DownloadUpdate(plan);
    ASSERT_EQ(outcome.result, UpdateInstallResult::Started);
    EXPECT_FALSE(fs::exists(outcome.stagedProgram.parent_path() / "readme.txt"));
}

TEST_F(UpdateDownloadTest, TheVersionHandedOverIsNeitherOfferedNorInstalledAgain) {
    const auto plan = Plan();
    m_responder.Push({200, "new program", {}});
    m_responder.Push({200, SignatureOf("new program"), {}});
    m_responder.Push({404, "", {}});
    ASSERT_EQ(DownloadUpdate(plan).result, UpdateInstallResult::Started);
    EXPECT_EQ(HandedOverVersion(), "2.0");

    // Until the restart the old version runs on, still "1.0".
    m_responder.Push({200, "2.0", {}});
    EXPECT_EQ(CheckForUpdate(FolderUrl(), "1.0").result, UpdateCheckResult::NotNewer);
    m_responder.Push({200, "2.0.1", {}});
    EXPECT_EQ(CheckForUpdate(FolderUrl(), "1.0").result, UpdateCheckResult::Available);
    const auto requestsBefore = m_responder.Requests().size();
    EXPECT_EQ(DownloadUpdate(plan).result, UpdateInstallResult::NotNewer);
    EXPECT_EQ(m_responder.Requests().size(), requestsBefore);
    EXPECT_EQ(m_launched.size(), 1u);
}

TEST_F(UpdateDownloadTest, ASecondInstallWhileOneRunsIsRefused) {
    auto plan = Plan();
    std::promise<void> entered;
    std::promise<void> release;
    auto released = release.get_future();
    plan.launch = [&](const std::vector<std::string>&) {
        entered.set_value();
        return released.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
    };
    m_responder.Push({200, "new program", {}});
    m_responder.Push({200, SignatureOf("new program"), {}});
    m_responder.Push({404, "", {}});
    auto first = std::async(std::launch::async, [&] { return DownloadUpdate(plan).result; });
    ASSERT_EQ(entered.get_future().wait_for(std::chrono::seconds(20)), std::future_status::ready);

    auto second = Plan();
    second.version = "3.0";
    EXPECT_EQ(DownloadUpdate(second).result, UpdateInstallResult::AlreadyRunning);
    release.set_value();
    ASSERT_EQ(first.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_EQ(first.get(), UpdateInstallResult::Started);
    EXPECT_EQ(m_responder.Requests().size(), 3u) << "the second fetched nothing";
}

TEST(ExecutableIsUserWritable, FollowsTheFileAndItsFolder) {
    EXPECT_FALSE(ExecutableIsUserWritable(""));
    test::TempDir folder;
    WriteAll(folder.Path() / "app", "x");
    EXPECT_TRUE(ExecutableIsUserWritable(folder.Path() / "app"));
    EXPECT_FALSE(ExecutableIsUserWritable(folder.Path() / "missing"));
}

TEST(SignatureVerifier, AcceptsOnlyTheKeysSignatureOfTheContent) {
    test::TempDir folder;
    test::TestSigner signer;
    const fs::path file = folder.Path() / "program";
    WriteAll(file, std::string(200000, 'p'));  // more than one read block
    const std::string signature = signer.Sign(file, "2.0");
    const SignatureVerifier verifier(signer.PublicKeyHex());
    EXPECT_TRUE(verifier.Verify(file, "2.0", signature));
    EXPECT_TRUE(verifier.VerifyDigest(SignatureVerifier::FileDigest(file), "2.0", signature));
    EXPECT_FALSE(
        SignatureVerifier("zz" + signer.PublicKeyHex().substr(2)).Verify(file, "2.0", signature));
    EXPECT_FALSE(verifier.Verify(folder.Path() / "gone", "2.0", signature));
    for (const char* version : {"2.1", "1.0", "2.0.0.0", ""}) {
        EXPECT_FALSE(verifier.Verify(file, version, signature)) << version;
    }
    std::string flipped = signature;
    flipped[10] = static_cast<char>(flipped[10] ^ 1);
    EXPECT_FALSE(verifier.Verify(file, "2.0", flipped));
    EXPECT_FALSE(verifier.Verify(file, "2.0", signature + "x"));
    WriteAll(file, std::string(200000, 'p') + "!");
    EXPECT_FALSE(verifier.Verify(file, "2.0", signature));
}

TEST(TestSigner, TheFixedKeyIsTheOneTheTestUpdaterTrusts) {
    EXPECT_EQ(test::TestSigner(test::TestSigner::Key::Fixed).PublicKeyHex(),
              TALLOWDESK_TEST_UPDATE_KEY);
}

}  // namespace
}  // namespace tallowdesk
