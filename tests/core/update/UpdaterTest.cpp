#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
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
protected:
    test::TempDir m_install;
    test::TempDir m_temp;
    fs::path m_target;
    fs::path m_staged;

    void SetUp() override {
        m_target = m_install.Path() / "tallowdesk";
        WriteAll(m_target, MarkingProgram("old"));
        ::chmod(m_target.c_str(), 0751);
        const fs::path staging = m_temp.Path() / "tallowdesk-update-abc123";
        fs::create_directory(staging);
        m_staged = staging / "tallowdesk";
        WriteAll(m_staged, MarkingProgram("new"));
        ::chmod(m_staged.c_str(), 0700);
    }

    UpdaterArgs Args() const {
        UpdaterArgs args;
        args.target = m_target;
        args.newProgram = m_staged;
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
    WriteAll(m_staged, "this is not a program");
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

TEST(ParseUpdaterArgs, NeedsTheTargetAndTheNewProgram) {
    const auto full = ParseUpdaterArgs(
        {"--wait-pid", "12", "--target", "/opt/t/tallowdesk", "--new", "/tmp/x/tallowdesk"});
    ASSERT_TRUE(full);
    EXPECT_EQ(full->waitPid, 12);
    EXPECT_EQ(full->target, "/opt/t/tallowdesk");
    EXPECT_EQ(full->newProgram, "/tmp/x/tallowdesk");
    EXPECT_TRUE(full->start);
    const std::vector<std::vector<std::string>> refused = {
        {},
        {"--target", "/a"},
        {"--new", "/a"},
        {"--wait-pid", "x", "--target", "/a", "--new", "/b"},
        {"--wait-pid", "-3", "--target", "/a", "--new", "/b"},
        {"--target", "/a", "--new"},
        {"--target", "/a", "--new", "/b", "--unknown", "1"},
    };
    for (const auto& args : refused) EXPECT_FALSE(ParseUpdaterArgs(args)) << args.size();
    EXPECT_FALSE(ParseUpdaterArgs({"--target", "/a", "--new", "/b", "--no-start"})->start);
}

}  // namespace
}  // namespace tallowdesk::updater
