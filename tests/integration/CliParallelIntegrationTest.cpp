#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "CliFixture.h"
#include "Store.h"
#include "web/Quota.h"

namespace tallowdesk::test {
namespace {

namespace fs = std::filesystem;

// Contents no two files share, of the given size.
std::string Contents(const std::string& title, std::size_t size) {
    std::string text;
    text.reserve(size);
    for (std::size_t i = 0; text.size() < size; ++i) text += title + ":" + std::to_string(i) + "\n";
    text.resize(size);
    return text;
}

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Files and folders below dir, as relative paths.
std::vector<std::string> Tree(const fs::path& dir) {
    std::vector<std::string> paths;
    for (const auto& e : fs::recursive_directory_iterator(dir))
        paths.push_back(fs::relative(e.path(), dir).string());
    std::sort(paths.begin(), paths.end());
    return paths;
}

class CliParallel : public CliTest {
protected:
    std::string Seed(const std::string& title, const std::string& contents,
                     std::vector<std::string> parents = {}) {
        server::NewEntry entry;
        entry.kind = "file";
        entry.title = title;
        entry.mime = "application/octet-stream";
        entry.content = contents;
        entry.parents = std::move(parents);
        const std::string id = m_server->GetStore().Create(kEmail, entry).id;
        m_seeded[title] = contents;
        return id;
    }
    std::string SeedFolder(const std::string& title) {
        server::NewEntry entry;
        entry.kind = "folder";
        entry.title = title;
        entry.mime = "application/atom+xml";
        return m_server->GetStore().Create(kEmail, entry).id;
    }

    std::map<std::string, std::string> m_seeded;  // title -> contents
};

// With several transfers at once the run must read exactly as one after
// another: the same lines in the same order, the same results, the same
// files; the failing item fails alone.
TEST_F(CliParallel, GetWithAFailingItemMatchesOneAtATime) {
    ASSERT_EQ(Run({"login", kEmail, "--remember"}), 0) << m_err.str();
    // The first file is large, so the small ones after it finish first.
    std::vector<std::string> args{"get", "big.bin"};
    Seed("big.bin", Contents("big", 24u << 20));
    for (int i = 0; i < 8; ++i) {
        const std::string title = "small" + std::to_string(i) + ".txt";
        const std::string id = Seed(title, Contents(title, 1000u + 977u * i));
        // Gone from the service's disk: this one fails on the service side.
        if (i == 3) fs::remove(m_server->GetStore().ContentPath(id));
        args.push_back(title);
    }
    const std::string folder = SeedFolder("Folder");
    for (int i = 0; i < 5; ++i) {
        const std::string title = "inner" + std::to_string(i) + ".txt";
        Seed(title, Contents(title, 5000u + 3u * i), {folder});
    }
    args.push_back("Folder");
    args.push_back("--json");

    struct Case {
        const char* transfers;
    };
    std::vector<std::string> lines, results;
    std::vector<std::string> tree;
    for (const Case& c : {Case{"1"}, Case{"4"}, Case{"16"}}) {
        SCOPED_TRACE(c.transfers);
        const fs::path to = m_dir / (std::string("to-") + c.transfers);
        fs::create_directories(to);
        std::vector<std::string> call = args;
        call.insert(call.end(), {"--to", to.string(), "--transfers", c.transfers});
        EXPECT_EQ(Run(call), 1) << m_err.str();

        // One whole line for the failed file, nothing else.
        EXPECT_EQ(m_err.str(), "small3.txt  Failed!:    File downloading/converting failed.\n");
        const auto json = nlohmann::json::parse(m_out.str());
        ASSERT_EQ(json.size(), 14u);  // files only: a folder is no item of its own
        EXPECT_EQ(json[4]["title"], "small3.txt");
        EXPECT_EQ(json[4]["status"], "failed");
        for (const auto& [title, contents] : m_seeded) {
            if (title == "small3.txt") continue;
            const fs::path local =
                title.rfind("inner", 0) == 0 ? to / "Folder" / title : to / title;
            EXPECT_EQ(ReadAll(local), contents) << title;
        }
        if (lines.empty()) {
            lines = {m_err.str()};
            results = {m_out.str()};
            tree = Tree(to);
        } else {
            EXPECT_EQ(std::vector<std::string>{m_err.str()}, lines);
            EXPECT_EQ(std::vector<std::string>{m_out.str()}, results);
            EXPECT_EQ(Tree(to), tree);
        }
    }
    EXPECT_EQ(std::find(tree.begin(), tree.end(), "small3.txt"), tree.end());
    EXPECT_EQ(Run({"get", "big.bin", "--transfers", "0"}), 2);
    EXPECT_EQ(Run({"get", "big.bin", "--transfers", "17"}), 2);
    EXPECT_EQ(Run({"get", "big.bin", "--transfers", "two"}), 2);
    EXPECT_EQ(Run({"get", "--help"}), 0);
    EXPECT_NE(m_out.str().find("--transfers N"), std::string::npos);
}

// Uploads side by side: every file arrives whole in the folder made for it,
// and the lines and results read as one after another.
TEST_F(CliParallel, PutOfATreeMatchesOneAtATime) {
    ASSERT_EQ(Run({"login", kEmail, "--remember"}), 0) << m_err.str();
    const fs::path local = m_dir / "local";
    std::map<std::string, std::string> files;
    for (int i = 0; i < 6; ++i) {
        const std::string name = "sub" + std::to_string(i % 2) + "/f" + std::to_string(i) + ".txt";
        files[name] = Contents(name, 2000u + 1500u * i);
    }
    files["big.bin"] = Contents("big", 12u << 20);
    for (const auto& [name, contents] : files) {
        fs::create_directories((local / "tree" / name).parent_path());
        std::ofstream(local / "tree" / name, std::ios::binary) << contents;
    }
    // Not a file: one line, among the uploads.
    ASSERT_EQ(::mkfifo((local / "tree" / "sub0" / "pipe").c_str(), 0600), 0);
    // The large file fails on the service's side, the rest fit.
    server::web::SetQuotaBytes(m_server->GetStore(), kEmail, (17u << 19));

    std::vector<std::string> lines, results;
    for (const char* transfers : {"1", "4"}) {
        SCOPED_TRACE(transfers);
        const std::string remote = std::string("Up") + transfers;
        ASSERT_EQ(Run({"mkdir", remote}), 0) << m_err.str();
        EXPECT_EQ(Run({"put", (local / "tree").string(), "--to", remote, "--json", "--transfers",
                       transfers}),
                  1)
            << m_err.str();
        std::string err = m_err.str();
        // The lines name local paths, the same in both runs.
        EXPECT_NE(err.find("pipe :  Skipped, neither a regular file nor a folder."),
                  std::string::npos)
            << err;
        EXPECT_NE(err.find("Error: " + (local / "tree" / "big.bin").string() + " :  "),
                  std::string::npos)
            << err;
        if (lines.empty()) {
            lines = {err};
            results = {m_out.str()};
        } else {
            EXPECT_EQ(std::vector<std::string>{err}, lines);
            EXPECT_EQ(std::vector<std::string>{m_out.str()}, results);
        }
        const fs::path back = m_dir / (std::string("back-") + transfers);
        fs::create_directories(back);
        ASSERT_EQ(Run({"get", remote + "/tree", "--to", back.string()}), 0) << m_err.str();
        for (const auto& [name, contents] : files) {
            if (name == "big.bin") continue;
            EXPECT_EQ(ReadAll(back / "tree" / name), contents) << name;
        }
        EXPECT_FALSE(fs::exists(back / "tree" / "big.bin"));
        // The next run starts from the same free space.
        ASSERT_EQ(Run({"trash", remote, "--permanently"}), 0) << m_err.str();
    }
}

// The real program, interrupted with Ctrl-C once its first file is in: it
// dies of the signal, every file under its final name is whole, and no
// partial file stays behind.
TEST_F(CliParallel, InterruptedGetLeavesOnlyWholeFiles) {
    ASSERT_EQ(Run({"login", kEmail, "--remember"}), 0) << m_err.str();
    std::vector<std::string> args{TALLOWDESK_CLI_BIN, "get", "first.txt"};
    Seed("first.txt", Contents("first", 4096));
    for (int i = 0; i < 3; ++i) {
        const std::string title = "large" + std::to_string(i) + ".bin";
        Seed(title, Contents(title, 64u << 20));
        args.push_back(title);
    }
    const fs::path to = m_dir / "to";
    fs::create_directories(to);
    args.insert(args.end(), {"--to", to.string(), "--transfers", "2", "--quiet"});

    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::alarm(120);  // a stuck transfer cannot outlive the test
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!fs::exists(to / "first.txt") && std::chrono::steady_clock::now() < deadline)
        ::poll(nullptr, 0, 1);
    ASSERT_TRUE(fs::exists(to / "first.txt"));
    ASSERT_EQ(::kill(child, SIGINT), 0);
    int status = 0;
    pid_t waited = 0;
    while ((waited = ::waitpid(child, &status, WNOHANG)) == 0 &&
           std::chrono::steady_clock::now() < deadline + std::chrono::seconds(30))
        ::poll(nullptr, 0, 10);
    if (waited == 0) ::kill(child, SIGKILL);
    ASSERT_EQ(waited, child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "exit status " << WEXITSTATUS(status);
    EXPECT_EQ(WTERMSIG(status), SIGINT);

    const std::vector<std::string> left = Tree(to);
    EXPECT_LT(left.size(), 4u) << "the interrupt came too late to cut anything";
    for (const std::string& name : left) {
        ASSERT_TRUE(m_seeded.count(name)) << "left behind: " << name;
        EXPECT_EQ(ReadAll(to / name), m_seeded[name]) << name;
    }
}

}  // namespace
}  // namespace tallowdesk::test
