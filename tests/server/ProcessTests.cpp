#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "ServerTestSupport.h"

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

}  // namespace
}  // namespace tallowdesk::server::test
