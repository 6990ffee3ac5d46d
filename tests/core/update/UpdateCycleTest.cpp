#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

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

// The whole update on one machine: the local service publishes version 99.0
// signed with a throwaway key; a temporary install folder holds the program
// and the real updater; a child process stands for the running program.
class UpdateCycleTest : public ::testing::Test {
protected:
    test::TempDir m_root;
    test::TestSigner m_signer;
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
        m_signer.SignInto(m_published / "tallowdesk", m_published / "tallowdesk.sig");
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
