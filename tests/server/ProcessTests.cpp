#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <map>
#include <thread>

#include "ServerTestSupport.h"
#include "Store.h"

extern char** environ;

namespace tallowdesk::server::test {
namespace {

// The tallowdesk-server program run as a child process; killed on destruction.
class ServerProcess {
public:
    ServerProcess(const std::vector<std::string>& args, const std::string& input = {}) {
        int out[2], in[2];
        if (pipe2(out, O_CLOEXEC) != 0 || pipe2(in, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        std::vector<std::string> all = {TALLOWDESK_SERVER_BINARY};
        all.insert(all.end(), args.begin(), args.end());
        // The same database as the test's own store of that folder.
        const auto dataDir = std::find(all.begin(), all.end(), "--data-dir");
        if (dataDir != all.end() && dataDir + 1 != all.end()) {
            const auto database = TestDatabaseArgs(*(dataDir + 1));
            all.insert(dataDir + 2, database.begin(), database.end());
        }
        std::vector<char*> argv;
        for (auto& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        const int rc = posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        close(in[0]);
        m_out = out[0];
        if (rc != 0) {
            close(in[1]);
            throw std::runtime_error("cannot start " + all[0]);
        }
        if (!input.empty() && write(in[1], input.data(), input.size()) < 0) {
            ADD_FAILURE() << "cannot write to the child";
        }
        close(in[1]);
    }
    ~ServerProcess() {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            Wait();
        }
        close(m_out);
    }
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    // Reads standard output up to the line that contains `marker`.
    std::string ReadUntil(const std::string& marker) {
        std::string text;
        char c;
        while (text.find(marker) == std::string::npos && read(m_out, &c, 1) == 1) text += c;
        std::string line;
        while (read(m_out, &c, 1) == 1 && c != '\n') line += c;
        return text + line;
    }
    int Wait() {
        int status = 0;
        waitpid(m_pid, &status, 0);
        m_pid = -1;
        return status;
    }
    void Kill() {
        kill(m_pid, SIGKILL);
        Wait();
    }

private:
    pid_t m_pid = -1;
    int m_out = -1;
};

Reply Login(Client& client, const std::string& base) {
    return client.Send("POST", base + "/accounts/ClientLogin", {"GData-Version:3.0"},
                       "accountType=HOSTED_OR_GOOGLE&Email=carol%40example.test&Passwd=p%40ss&"
                       "service=writely&source=test");
}

TEST(ServerProcessTest, KilledServerKeepsWhatItAcknowledged) {
    TempDir dir;
    const std::string data = (dir.Path() / "data").string();
    {
        ServerProcess addUser({"--data-dir", data, "add-user", "carol@example.test"}, "p@ss\n");
        const int status = addUser.Wait();
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    std::string token, entryPath;
    {
        ServerProcess server({"--data-dir", data, "--port", "0"});
        const std::string line = server.ReadUntil("listening on https://localhost:");
        const std::string base = "https://localhost:" + Between(line, "localhost:", " ");
        Client client(data + "/cert.pem");
        const Reply login = Login(client, base);
        ASSERT_EQ(login.status, 200) << login.body;
        token = Between(login.body, "Auth=", "\n");
        const Reply created =
            client.Send("POST", base + "/feeds/default/private/full",
                        {"GData-Version: 3.0", "Authorization: GoogleLogin auth=" + token,
                         "Content-Type:application/atom+xml"},
                        FolderEntryXml("Survivor"));
        ASSERT_EQ(created.status, 201);
        entryPath = created.Header("Location").substr(base.size());
        server.Kill();  // no chance to flush or close anything
    }
    ServerProcess server({"--data-dir", data, "--port", "0"});
    const std::string line = server.ReadUntil("listening on https://localhost:");
    const std::string base = "https://localhost:" + Between(line, "localhost:", " ");
    Client client(data + "/cert.pem");
    const Reply entry =
        client.Send("GET", base + entryPath,
                    {"GData-Version: 3.0", "Authorization: GoogleLogin auth=" + token});
    EXPECT_EQ(entry.status, 200);
    EXPECT_NE(entry.body.find("<title>Survivor</title>"), std::string::npos);
}

// A running service process on a free port with a client for it.
struct Running {
    explicit Running(const std::string& data)
        : process({"--data-dir", data, "--port", "0"}),
          base("https://localhost:" +
               Between(process.ReadUntil("listening on https://localhost:"), "localhost:", " ")),
          client(data + "/cert.pem") {}
    ServerProcess process;
    std::string base;
    Client client;
};

std::string TokenOf(Running& s) {
    const Reply login = Login(s.client, s.base);
    EXPECT_EQ(login.status, 200) << login.body;
    return Between(login.body, "Auth=", "\n");
}

std::vector<std::string> Auth(const std::string& token) {
    return {"GData-Version: 3.0", "Authorization: GoogleLogin auth=" + token};
}

std::string Bytes(std::size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>((i * 131 + seed * 7 + i / 977) % 251 + 1);
    }
    return bytes;
}

// Uploads kept as they are (a PDF keeps its bytes); returns the entry id.
std::string UploadPdf(Running& s, const std::string& token, const std::string& bytes,
                      const std::string& folderContents = {}) {
    auto headers = Auth(token);
    headers.push_back("Content-Type: application/pdf");
    headers.push_back("Slug: part.pdf");
    const Reply r = s.client.Send(
        "POST", s.base + (folderContents.empty() ? "/feeds/default/private/full" : folderContents),
        headers, bytes);
    EXPECT_EQ(r.status, 201) << r.body;
    return Between(r.body, "<gd:resourceId>pdf:", "<");
}

enum class Interrupted { ResumableUpload, ConvertedUpload, PermanentDelete };

// Kills the service in the middle of `what`, restarts it and checks that
// everything it acknowledged is there byte for byte, that what it did not
// acknowledge left nothing half done, and that the database and the content
// folder agree. TALLOWDESK_KILL_ROUNDS sets the rounds per kind (the
// benchmark script runs many; CI runs two).
void KillDuring(Interrupted what, int round) {
    TempDir dir;
    const std::string data = (dir.Path() / "data").string();
    {
        ServerProcess addUser({"--data-dir", data, "add-user", "carol@example.test"}, "p@ss\n");
        ASSERT_EQ(addUser.Wait(), 0);
    }
    std::map<std::string, std::string> acknowledged;  // id -> bytes
    std::string folder, folderContents;
    {
        Running s(data);
        const std::string token = TokenOf(s);
        const Reply created = s.client.Send(
            "POST", s.base + "/feeds/default/private/full",
            [&] {
                auto h = Auth(token);
                h.push_back("Content-Type: application/atom+xml");
                return h;
            }(),
            FolderEntryXml("Box"));
        ASSERT_EQ(created.status, 201);
        folder = Between(created.body, "<gd:resourceId>folder:", "<");
        folderContents = "/feeds/default/private/full/folder%3A" + folder + "/contents";
        for (unsigned i = 0; i < 5; ++i) {
            const std::string bytes = Bytes(20000 + i * 1000, i);
            acknowledged[UploadPdf(s, token, bytes, folderContents)] = bytes;
        }
        std::atomic<bool> done{false};
        std::thread worker([&] {
            try {
                Client other(data + "/cert.pem");
                if (what == Interrupted::PermanentDelete) {
                    auto h = Auth(token);
                    h.push_back("If-Match: *");
                    other.Send(
                        "DELETE",
                        s.base + "/feeds/default/private/full/folder%3A" + folder + "?delete=true",
                        h);
                } else if (what == Interrupted::ConvertedUpload) {
                    auto h = Auth(token);
                    h.push_back("Content-Type: text/tab-separated-values");
                    h.push_back("Slug: big.tsv");
                    std::string tsv;
                    while (tsv.size() < 8 * 1024 * 1024) tsv += "a\tb,c\t\"d\"\n";
                    other.Send("POST", s.base + folderContents, h, tsv);
                } else {
                    other.Send("GET", s.base + "/accounts/ServiceLogin");
                    const std::string galx = other.Cookie("GALX");
                    other.Send("POST", s.base + "/accounts/ServiceLoginAuth", {},
                               "GALX=" + galx + "&Email=carol%40example.test&Passwd=p%40ss");
                    const std::string size = std::to_string(16 * 1024 * 1024);
                    const Reply session = other.Send(
                        "POST", s.base + "/upload/resumableupload?authuser=0",
                        {"Content-Type: application/x-www-form-urlencoded"},
                        R"({"createSessionRequest":{"fields":[{"external":{"name":"file","filename":"big.bin","size":)" +
                            size + R"(}},{"inlined":{"name":"parentId","content":")" + folder +
                            R"(","contentType":"text/plain"}}]}})");
                    std::string url = session.Header("Location");
                    if (url.empty()) {
                        url = Between(session.body, "\"url\":\"", "\\u0026");
                    }
                    const std::string form =
                        "--B0undary\r\nContent-Disposition: form-data; name=\"Filedata\"; "
                        "filename=\"big.bin\"\r\nContent-Type: application/octet-stream\r\n\r\n" +
                        Bytes(16 * 1024 * 1024, 9) + "\r\n--B0undary--\r\n";
                    other.Send("POST", url,
                               {"Content-Type: multipart/form-data; boundary=B0undary"}, form);
                }
            } catch (const std::exception&) {
                // The kill cuts the transfer: expected.
            }
            done = true;
        });
        // Somewhere between the start and the likely end of the operation.
        std::this_thread::sleep_for(std::chrono::milliseconds(5 + (round * 37) % 120));
        s.process.Kill();
        worker.join();
    }
    {
        Running s(data);
        const std::string token = TokenOf(s);
        const Reply box = s.client.Send(
            "GET", s.base + "/feeds/default/private/full/folder%3A" + folder, Auth(token));
        const bool deleted = box.status == 404;
        if (what != Interrupted::PermanentDelete) {
            EXPECT_FALSE(deleted);
        }
        for (const auto& [id, bytes] : acknowledged) {
            const Reply got =
                s.client.Send("GET", s.base + "/feeds/download/files/" + id, Auth(token));
            if (deleted) {
                // A delete is all or nothing.
                EXPECT_EQ(got.status, 404) << id;
            } else {
                EXPECT_EQ(got.status, 200) << id;
                EXPECT_TRUE(got.body == bytes) << "content of " << id << " changed";
            }
        }
        s.process.Kill();
    }
    // The restarted service put aside what the kill left; nothing is left.
    Store store(data, 1000, TestDatabase(data));
    EXPECT_TRUE(store.LastReconciliation().quarantined.empty());
    EXPECT_TRUE(store.LastReconciliation().missing.empty());
    EXPECT_EQ(store.LastReconciliation().removedTemporary, 0);
    const auto problems = store.CheckConsistency();
    EXPECT_TRUE(problems.empty()) << problems.front();
}

int KillRounds() {
    const char* rounds = std::getenv("TALLOWDESK_KILL_ROUNDS");
    return rounds ? std::max(1, std::atoi(rounds)) : 2;
}

TEST(ServerKillTest, KilledDuringResumableUpload) {
    for (int round = 0; round < KillRounds(); ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        KillDuring(Interrupted::ResumableUpload, round);
    }
}

TEST(ServerKillTest, KilledDuringConvertedUpload) {
    for (int round = 0; round < KillRounds(); ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        KillDuring(Interrupted::ConvertedUpload, round);
    }
}

TEST(ServerKillTest, KilledDuringPermanentDelete) {
    for (int round = 0; round < KillRounds(); ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        KillDuring(Interrupted::PermanentDelete, round);
    }
}

}  // namespace
}  // namespace tallowdesk::server::test
