#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <future>
#include <thread>

#include "TestSigner.h"
#include "Updater.h"

namespace tallowdesk::updater {
namespace {

namespace fs = std::filesystem;
using test::MarkingProgram;
using test::ReadAll;
using test::WriteAll;

bool WaitForFile(const fs::path& file) {
    for (int i = 0; i < 100 && !fs::exists(file); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return fs::exists(file);
}

class UpdaterTest : public ::testing::Test {
public:  // the cases of a table prepare through it
    test::TempDir m_install;
    test::TempDir m_temp;
    test::TestSigner m_signer;
    fs::path m_target;
    fs::path m_staged;

    void SetUp() override {
        m_target = m_install.Path() / "tallowdesk";
        WriteAll(m_target, MarkingProgram("old"));
        ::chmod(m_target.c_str(), 0751);
        const fs::path staging = m_temp.Path() / "tallowdesk-update-abc123";
        fs::create_directory(staging);
        ::chmod(staging.c_str(), 0700);
        m_staged = staging / "tallowdesk";
        Stage(MarkingProgram("new"), "2.0");
    }

    // A fresh install and download, for the next case of a table.
    void Reset() {
        for (const auto& dir : {m_install.Path(), m_temp.Path()}) {
            for (const auto& entry : fs::directory_iterator(dir)) fs::remove_all(entry.path());
        }
        SetUp();
    }

    // Puts a program signed for version into the staging folder, as the
    // download leaves it.
    void Stage(const std::string& content, const std::string& version) {
        WriteAll(m_staged, content);
        ::chmod(m_staged.c_str(), 0700);
        m_signer.SignInto(m_staged, version, m_staged.string() + ".sig");
    }

    UpdaterArgs Args() const {
        UpdaterArgs args;
        args.target = m_target;
        args.newProgram = m_staged;
        args.version = "2.0";
        args.publicKeyHex = m_signer.PublicKeyHex();
        args.installedVersion = "1.0";
        args.waitLimit = std::chrono::seconds(20);
        return args;
    }
};

TEST_F(UpdaterTest, SwapsTheProgramKeepsTheOldOneAndStartsTheNew) {
    EXPECT_EQ(RunUpdate(Args()), "");
    EXPECT_EQ(ReadAll(m_target), MarkingProgram("new"));
    EXPECT_EQ(ReadAll(m_install.Path() / "OldExecutable.bak"), MarkingProgram("old"));
    struct stat info {};
    ASSERT_EQ(::stat(m_target.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0751u) << "the old program's permissions";
    EXPECT_FALSE(fs::exists(m_staged.parent_path())) << "the download folder goes";
    ASSERT_TRUE(WaitForFile(m_install.Path() / "started.txt"));
    EXPECT_EQ(ReadAll(m_install.Path() / "started.txt"), "new\n");
    EXPECT_FALSE(fs::exists(m_install.Path() / ".tallowdesk-update.new"));
}

TEST_F(UpdaterTest, ANewProgramThatDoesNotStartGivesTheOldOneBack) {
    Stage("this is not a program", "2.0");
    EXPECT_NE(RunUpdate(Args()), "");
    EXPECT_EQ(ReadAll(m_target), MarkingProgram("old"));
    struct stat info {};
    ASSERT_EQ(::stat(m_target.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0751u);
}

TEST_F(UpdaterTest, AMissingNewProgramChangesNothing) {
    fs::remove(m_staged);
    EXPECT_NE(RunUpdate(Args()), "");
    EXPECT_EQ(ReadAll(m_target), MarkingProgram("old"));
    EXPECT_FALSE(fs::exists(m_install.Path() / ".tallowdesk-update.new"));
}

TEST_F(UpdaterTest, WaitsUntilTheRunningProgramHasEnded) {
    const pid_t running = ::fork();
    ASSERT_GE(running, 0);
    if (running == 0) {
        ::execl("/bin/sleep", "sleep", "30", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    UpdaterArgs args = Args();
    args.waitPid = running;
    args.start = false;
    auto done = std::async(std::launch::async, [args] { return RunUpdate(args); });
    EXPECT_EQ(done.wait_for(std::chrono::milliseconds(500)), std::future_status::timeout);
    EXPECT_EQ(ReadAll(m_target), MarkingProgram("old"));
    // Ended but not yet reaped: a zombie counts as ended.
    ::kill(running, SIGTERM);
    ASSERT_EQ(done.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_EQ(done.get(), "");
    EXPECT_EQ(ReadAll(m_target), MarkingProgram("new"));
    ::waitpid(running, nullptr, 0);
}

TEST_F(UpdaterTest, GivesUpWhenTheProgramDoesNotEndInTime) {
    UpdaterArgs args = Args();
    args.waitPid = static_cast<int>(::getpid());
    args.waitLimit = std::chrono::milliseconds(300);
    EXPECT_NE(RunUpdate(args), "");
    EXPECT_EQ(ReadAll(m_target), MarkingProgram("old"));
}

// The commands updater/README.md gives for signing a release make a
// signature the updater takes.
TEST_F(UpdaterTest, AReleaseSignedAsTheReadmeSaysIsInstalled) {
    const fs::path key = m_temp.Path() / "release-key.pem";
    m_signer.WritePrivatePem(key);
    const fs::path message = m_temp.Path() / "tallowdesk.msg";
    const std::string command =
        "cd '" + m_staged.parent_path().string() +
        "' && { printf 'tallowdesk %s\\n' 2.0; timeout 20 openssl dgst -sha512 -binary "
        "tallowdesk; } > '" +
        message.string() + "' && timeout 20 openssl pkeyutl -sign -rawin -inkey '" + key.string() +
        "' -in '" + message.string() + "' -out tallowdesk.sig";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    UpdaterArgs args = Args();
    args.start = false;
    EXPECT_EQ(RunUpdate(args), "");
    EXPECT_EQ(ReadAll(m_target), MarkingProgram("new"));
}

struct UpdaterRefusal {
    const char* name;
    std::function<void(UpdaterTest&, UpdaterArgs&)> prepare;
    const char* says;
};

// Everything the download checked is checked again on what is there at the
// swap; each of these leaves the old program in place and runnable.
TEST_F(UpdaterTest, RefusesWhatDoesNotHoldRightBeforeTheSwap) {
    const UpdaterRefusal cases[] = {
        {"older version",
         [](UpdaterTest& t, UpdaterArgs& a) {
             t.Stage(MarkingProgram("older"), "0.9");
             a.version = "0.9";
         },
         "is not newer"},
        {"same version",
         [](UpdaterTest& t, UpdaterArgs& a) {
             t.Stage(MarkingProgram("same"), "1.0");
             a.version = "1.0";
         },
         "is not newer"},
        {"signed for another version",
         [](UpdaterTest& t, UpdaterArgs&) { t.Stage(MarkingProgram("older"), "1.5"); },
         "signature"},
        {"changed after the check",
         [](UpdaterTest& t, UpdaterArgs&) { WriteAll(t.m_staged, MarkingProgram("planted")); },
         "signature"},
        {"no signature",
         [](UpdaterTest& t, UpdaterArgs&) { fs::remove(t.m_staged.string() + ".sig"); },
         "signature"},
        {"signature with a byte more",
         [](UpdaterTest& t, UpdaterArgs&) {
             std::ofstream(t.m_staged.string() + ".sig", std::ios::app) << "x";
         },
         "signature"},
        {"folder group-writable",
         [](UpdaterTest& t, UpdaterArgs&) { ::chmod(t.m_staged.parent_path().c_str(), 0770); },
         "not private"},
        {"folder readable by others",
         [](UpdaterTest& t, UpdaterArgs&) { ::chmod(t.m_staged.parent_path().c_str(), 0705); },
         "not private"},
        {"folder a symlink",
         [](UpdaterTest& t, UpdaterArgs&) {
             const fs::path real = t.m_temp.Path() / "elsewhere";
             fs::rename(t.m_staged.parent_path(), real);
             fs::create_directory_symlink(real, t.m_staged.parent_path());
         },
         "not private"},
        {"program a symlink",
         [](UpdaterTest& t, UpdaterArgs&) {
             const fs::path real = t.m_temp.Path() / "elsewhere-program";
             fs::rename(t.m_staged, real);
             fs::create_symlink(real, t.m_staged);
         },
         "cannot read"},
        {"program group-writable",
         [](UpdaterTest& t, UpdaterArgs&) { ::chmod(t.m_staged.c_str(), 0720); }, "cannot read"},
        {"not this build's key",
         [](UpdaterTest&, UpdaterArgs& a) { a.publicKeyHex = test::TestSigner().PublicKeyHex(); },
         "signature"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Reset();
        UpdaterArgs args = Args();
        c.prepare(*this, args);
        const std::string failure = RunUpdate(args);
        EXPECT_NE(failure.find(c.says), std::string::npos) << failure;
        EXPECT_EQ(ReadAll(m_target), MarkingProgram("old"));
        struct stat info {};
        ASSERT_EQ(::stat(m_target.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, 0751u);
        EXPECT_FALSE(fs::exists(m_install.Path() / ".tallowdesk-update.new"));
        EXPECT_FALSE(fs::exists(m_install.Path() / "started.txt"));
    }
}

TEST_F(UpdaterTest, ASecondUpdaterLeavesTheFirstOnesFilesAlone) {
    // Stands for the first updater: it holds the lock while it waits.
    const int held = ::open((m_install.Path() / ".tallowdesk-update.lock").c_str(),
                            O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
    const UpdaterArgs args = Args();
    auto second = std::async(std::launch::async, [args] { return RunUpdate(args); });
    ASSERT_EQ(second.wait_for(std::chrono::seconds(20)), std::future_status::ready)
        << "it gives up instead of waiting beside the first";
    EXPECT_NE(second.get().find("another update"), std::string::npos);
    EXPECT_EQ(ReadAll(m_staged), MarkingProgram("new")) << "the first one's download stays";
    EXPECT_EQ(ReadAll(m_target), MarkingProgram("old"));
    ::close(held);
    EXPECT_EQ(RunUpdate(Args()), "");
    EXPECT_EQ(ReadAll(m_target), MarkingProgram("new"));
}

TEST(ParseUpdaterArgs, NeedsTheTargetAndTheNewProgram) {
    const auto full = ParseUpdaterArgs({"--wait-pid", "12", "--target", "/opt/t/tallowdesk",
                                        "--new", "/tmp/x/tallowdesk", "--version", "2.0"});
    ASSERT_TRUE(full);
    EXPECT_EQ(full->waitPid, 12);
    EXPECT_EQ(full->version, "2.0");
    EXPECT_EQ(full->installedVersion, TALLOWDESK_EXPECTED_VERSION) << "this build's";
    EXPECT_EQ(full->target, "/opt/t/tallowdesk");
    EXPECT_EQ(full->newProgram, "/tmp/x/tallowdesk");
    EXPECT_TRUE(full->start);
    const std::vector<std::vector<std::string>> refused = {
        {},
        {"--target", "/a"},
        {"--new", "/a"},
        {"--target", "/a", "--new", "/b"},
        {"--wait-pid", "x", "--target", "/a", "--new", "/b", "--version", "2"},
        {"--wait-pid", "-3", "--target", "/a", "--new", "/b", "--version", "2"},
        {"--target", "/a", "--new", "/b", "--version"},
        {"--target", "/a", "--new", "/b", "--version", "2", "--unknown", "1"},
        {"--target", "/a", "--new", "/b", "--version", "2", "--key", "00"},
    };
    for (const auto& args : refused) EXPECT_FALSE(ParseUpdaterArgs(args)) << args.size();
    EXPECT_FALSE(
        ParseUpdaterArgs({"--target", "/a", "--new", "/b", "--version", "2", "--no-start"})->start);
    // A program newer than the updater raises the bar; an older one does not lower it.
    const struct {
        const char* running;
        const char* installed;
    } bars[] = {
        {"7.1", "7.1"}, {"0.5", TALLOWDESK_EXPECTED_VERSION}, {"x", TALLOWDESK_EXPECTED_VERSION}};
    for (const auto& bar : bars) {
        const auto parsed = ParseUpdaterArgs(
            {"--target", "/a", "--new", "/b", "--version", "9", "--running-version", bar.running});
        ASSERT_TRUE(parsed) << bar.running;
        EXPECT_EQ(parsed->installedVersion, bar.installed) << bar.running;
    }
}

}  // namespace
}  // namespace tallowdesk::updater
