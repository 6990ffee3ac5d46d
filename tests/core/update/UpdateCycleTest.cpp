#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <thread>

#include "ScopedHosts.h"
#include "Server.h"
#include "TestSigner.h"
#include "update/ProcessLaunch.h"
#include "update/UpdateCheck.h"
#include "update/UpdateDownload.h"
#include "update/UpdateTransfer.h"

namespace tallowdesk {
namespace {

namespace fs = std::filesystem;
using test::MarkingProgram;
using test::ReadAll;
using test::WriteAll;

// Runs a program to its end (at most 20 s, then it is killed): its exit code,
// or -1 when it had to be killed.
int RunToEnd(const std::vector<std::string>& argv) {
    const pid_t child = ::fork();
    if (child < 0) return -1;
    if (child == 0) {
        std::vector<char*> args;
        for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    int status = 0;
    for (int i = 0; i < 200; ++i) {
        if (::waitpid(child, &status, WNOHANG) == child) {
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ::kill(child, SIGKILL);
    ::waitpid(child, &status, 0);
    return -1;
}

// The whole update on one machine: the local service publishes version 99.0
// signed with the test key; a temporary install folder holds the program and
// the test build of the updater (the test key compiled in); a child process
// stands for the running program.
class UpdateCycleTest : public ::testing::Test {
public:  // the cases of a table prepare through it
    test::TempDir m_root;
    test::TestSigner m_signer{test::TestSigner::Key::Fixed};
    fs::path m_published;
    fs::path m_install;
    fs::path m_temp;
    std::unique_ptr<server::Server> m_server;
    std::unique_ptr<test::ScopedHosts> m_hosts;
    pid_t m_running = -1;

    void SetUp() override {
        m_published = m_root.Path() / "published";
        m_install = m_root.Path() / "install";
        m_temp = m_root.Path() / "tmp";
        for (const auto& dir : {m_published, m_install, m_temp}) fs::create_directory(dir);
        WriteAll(m_published / "update.txt", "99.0");
        WriteAll(m_published / "tallowdesk", MarkingProgram("99.0"));
        m_signer.SignInto(m_published / "tallowdesk", "99.0", m_published / "tallowdesk.sig");
        WriteAll(m_published / "readme.txt", "Version 99.0");

        WriteAll(m_install / "tallowdesk", MarkingProgram("1.0"));
        fs::permissions(m_install / "tallowdesk", fs::perms(0755));
        fs::copy_file(TALLOWDESK_UPDATER_PATH, m_install / "tallowdesk-updater");

        server::ServerOptions options;
        options.dataDir = (m_root.Path() / "server").string();
        options.port = 0;
        options.passwordIterations = 1000;
        options.updateDir = m_published.string();
        m_server = std::make_unique<server::Server>(options);
        const std::string host = "localhost:" + std::to_string(m_server->Start());
        ServiceHosts hosts = test::HostsFor(host, m_server->CertPath());
        hosts.updateHost = host;
        m_hosts = std::make_unique<test::ScopedHosts>(hosts);

        m_running = ::fork();
        ASSERT_GE(m_running, 0);
        if (m_running == 0) {
            ::execl("/bin/sleep", "sleep", "60", static_cast<char*>(nullptr));
            ::_exit(127);
        }
    }

    void TearDown() override {
        EndRunningProgram();
        m_server.reset();
    }

    void EndRunningProgram() {
        if (m_running <= 0) return;
        ::kill(m_running, SIGTERM);
        ::waitpid(m_running, nullptr, 0);
        m_running = -1;
    }

    UpdateInstallPlan Plan() const {
        UpdateInstallPlan plan;
        plan.version = "99.0";
        plan.runningVersion = "1.0";
        plan.folderUrl = UpdateFolderUrl();
        plan.executable = m_install / "tallowdesk";
        plan.publicKeyHex = m_signer.PublicKeyHex();
        plan.tempRoot = m_temp;
        plan.updater = m_install / "tallowdesk-updater";
        plan.waitPid = m_running;
        plan.launch = &LaunchDetached;
        return plan;
    }

    bool Started() const {
        for (int i = 0; i < 100 && !fs::exists(m_install / "started.txt"); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return fs::exists(m_install / "started.txt");
    }
};

TEST_F(UpdateCycleTest, ChecksDownloadsVerifiesSwapsAndStartsTheNewVersion) {
    const auto check = CheckForUpdate(UpdateFolderUrl(), "1.0");
    ASSERT_EQ(check.result, UpdateCheckResult::Available);
    EXPECT_EQ(check.publishedVersion, "99.0");

    const auto installed = DownloadUpdate(Plan());
    ASSERT_EQ(installed.result, UpdateInstallResult::Started);
    // The old version runs on until it is restarted: no second offer.
    EXPECT_EQ(CheckForUpdate(UpdateFolderUrl(), "1.0").result, UpdateCheckResult::NotNewer);
    EXPECT_EQ(ReadAll(installed.stagedProgram.parent_path() / "readme.txt"), "Version 99.0");
    // The updater waits for the running program.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(ReadAll(m_install / "tallowdesk"), MarkingProgram("1.0"));

    EndRunningProgram();
    ASSERT_TRUE(Started());
    EXPECT_EQ(ReadAll(m_install / "started.txt"), "99.0\n");
    EXPECT_EQ(ReadAll(m_install / "tallowdesk"), MarkingProgram("99.0"));
    EXPECT_EQ(ReadAll(m_install / "OldExecutable.bak"), MarkingProgram("1.0"));
    for (int i = 0; i < 50 && !fs::is_empty(m_temp); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_TRUE(fs::is_empty(m_temp)) << "the download folder is removed";
}

struct CycleRefusal {
    const char* name;
    // Runs between the download and the end of the running program.
    std::function<void(UpdateCycleTest&, std::vector<std::string>& updaterArgs)> meddle;
};

// The download passed its checks; what lies in the staging folder when the
// program ends is what the updater judges, with nothing on its command line
// to trust but paths and versions.
TEST_F(UpdateCycleTest, TheUpdaterRefusesWhatChangedOrDoesNotHoldAtTheSwap) {
    const fs::path signedOld = m_root.Path() / "old-release";
    WriteAll(signedOld, MarkingProgram("0.5"));
    const CycleRefusal cases[] = {
        {"bytes changed after the check",
         [](UpdateCycleTest&, std::vector<std::string>& a) {
             WriteAll(a[6], MarkingProgram("planted"));
         }},
        {"older signed build put in its place",
         [&](UpdateCycleTest& t, std::vector<std::string>& a) {
             fs::copy_file(signedOld, a[6], fs::copy_options::overwrite_existing);
             t.m_signer.SignInto(a[6], "0.5", a[6] + ".sig");
             a[8] = "0.5";
         }},
        {"same version as installed",
         [](UpdateCycleTest& t, std::vector<std::string>& a) {
             WriteAll(a[6], MarkingProgram("1.0 again"));
             t.m_signer.SignInto(a[6], "1.0", a[6] + ".sig");
             a[8] = "1.0";
         }},
        {"staging folder group-writable",
         [](UpdateCycleTest&, std::vector<std::string>& a) {
             fs::permissions(fs::path(a[6]).parent_path(), fs::perms(0770));
         }},
        {"staging folder a symlink",
         [](UpdateCycleTest& t, std::vector<std::string>& a) {
             const fs::path staging = fs::path(a[6]).parent_path();
             const fs::path moved = t.m_root.Path() / "moved";
             fs::rename(staging, moved);
             fs::create_directory_symlink(moved, staging);
         }},
    };
    std::vector<std::string> downloaded;
    UpdateInstallPlan plan = Plan();
    plan.launch = [&downloaded](const std::vector<std::string>& a) {
        downloaded = a;
        return true;
    };
    ASSERT_EQ(DownloadUpdate(plan).result, UpdateInstallResult::Started);
    ASSERT_EQ(downloaded.size(), 11u);
    ASSERT_EQ(downloaded[5], "--new");
    ASSERT_EQ(downloaded[7], "--version");
    EndRunningProgram();
    downloaded[2] = "0";  // it has ended
    // Each case starts from the download as it was left.
    const fs::path staging = fs::path(downloaded[6]).parent_path();
    const fs::path pristine = m_root.Path() / "pristine";
    fs::copy(staging, pristine);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(staging);
        fs::remove_all(m_root.Path() / "moved");
        fs::copy(pristine, staging);
        fs::permissions(staging, fs::perms(0700));
        std::vector<std::string> argv = downloaded;
        c.meddle(*this, argv);
        EXPECT_EQ(RunToEnd(argv), 1);
        EXPECT_EQ(ReadAll(m_install / "tallowdesk"), MarkingProgram("1.0"));
        EXPECT_FALSE(fs::exists(m_install / "started.txt"));
        EXPECT_FALSE(fs::exists(m_install / ".tallowdesk-update.new"));
    }
    // And the download as it was is installed by the same updater.
    fs::remove_all(staging);
    fs::copy(pristine, staging);
    fs::permissions(staging, fs::perms(0700));
    EXPECT_EQ(RunToEnd(downloaded), 0);
    EXPECT_EQ(ReadAll(m_install / "tallowdesk"), MarkingProgram("99.0"));
}

TEST_F(UpdateCycleTest, ASecondUpdaterGivesUpWhileTheFirstWaits) {
    std::vector<std::string> argv;
    UpdateInstallPlan plan = Plan();
    plan.launch = [&argv](const std::vector<std::string>& a) {
        argv = a;
        return LaunchDetached(a);
    };
    ASSERT_EQ(DownloadUpdate(plan).result, UpdateInstallResult::Started);
    // The first holds the lock beside the program while it waits for it.
    const fs::path lockFile = m_install / ".tallowdesk-update.lock";
    bool held = false;
    for (int i = 0; i < 200 && !held; ++i) {
        const int fd = ::open(lockFile.c_str(), O_RDWR | O_CLOEXEC);
        held = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0;
        if (fd >= 0) ::close(fd);
        if (!held) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_TRUE(held);
    EXPECT_EQ(RunToEnd(argv), 1) << "the second one ends at once";
    EXPECT_EQ(ReadAll(m_install / "tallowdesk"), MarkingProgram("1.0"));

    EndRunningProgram();
    ASSERT_TRUE(Started());
    EXPECT_EQ(ReadAll(m_install / "tallowdesk"), MarkingProgram("99.0"));
}

TEST_F(UpdateCycleTest, TheClientRefusesAnOlderSignedBuildOrAnOversizeOne) {
    // The update host names a newer version but serves an older release.
    WriteAll(m_published / "tallowdesk", MarkingProgram("0.5"));
    m_signer.SignInto(m_published / "tallowdesk", "0.5", m_published / "tallowdesk.sig");
    EXPECT_EQ(DownloadUpdate(Plan()).result, UpdateInstallResult::SignatureRefused);

    m_signer.SignInto(m_published / "tallowdesk", "99.0", m_published / "tallowdesk.sig");
    UpdateInstallPlan small = Plan();
    small.maxProgramBytes = 16;
    EXPECT_EQ(DownloadUpdate(small).result, UpdateInstallResult::DownloadFailed);
    EXPECT_TRUE(fs::is_empty(m_temp));
    EXPECT_EQ(ReadAll(m_install / "tallowdesk"), MarkingProgram("1.0"));
}

TEST_F(UpdateCycleTest, TheServicePublishesOnlyPlainFilesOfTheUpdateFolder) {
    WriteAll(m_root.Path() / "secret.txt", "not published");
    WriteAll(m_published / ".hidden", "not published");
    const auto ignore = [](const char*, std::size_t) { return true; };
    for (const char* name : {"..%2Fsecret.txt", "missing.txt", ".hidden", "a%2F..%2Freadme.txt"}) {
        EXPECT_FALSE(update_detail::FetchUrl(UpdateFolderUrl() + name, ignore).opened) << name;
    }
    EXPECT_TRUE(update_detail::FetchUrl(UpdateFolderUrl() + "readme.txt", ignore).complete);
}

}  // namespace
}  // namespace tallowdesk
