#include <chrono>
#include <fstream>
#include <vector>

#include "ServerTestSupport.h"
#include "Store.h"

namespace tallowdesk::server::test {
namespace {

namespace fs = std::filesystem;

using DurabilityTest = SignedInTest;

// Regression: a folder deleted while an upload into it finished answered 500
// ("FOREIGN KEY constraint failed") and left the file behind for good.
TEST_F(DurabilityTest, UploadIntoAFolderDeletedMeanwhileStoresNothing) {
    const std::string folder = Between(CreateFolder(m_token, "Going").body, "folder:", "<");
    const auto session = m_server->GetStore().CreateSession(kAlice);
    const std::string cookie = "Cookie: SID=" + session.sid + "; HSID=" + session.hsid;
    m_server->SetSessionUrlStyle(AnswerStyle::Header);
    const Reply opened = m_client->Send(
        "POST", Url("/upload/resumableupload?authuser=0"), {cookie},
        R"({"createSessionRequest":{"fields":[{"external":{"name":"file","filename":"a.bin","size":3}},)"
        R"({"inlined":{"name":"parentId","content":")" +
            folder + R"(","contentType":"text/plain"}}]}})");
    ASSERT_EQ(opened.status, 200) << opened.body;
    ASSERT_EQ(GData("DELETE", std::string(kList) + "/folder%3A" + folder + "?delete=true", m_token,
                    {}, {"If-Match: *"})
                  .status,
              200);
    const Reply sent = m_client->Send(
        "POST", opened.Header("Location"),
        {cookie, "Content-Type: multipart/form-data; boundary=XyZ"},
        "--XyZ\r\nContent-Disposition: form-data; name=\"Filedata\"; filename=\"a.bin\"\r\n\r\n"
        "abc\r\n--XyZ--\r\n");
    EXPECT_EQ(sent.status, 404) << sent.body;
    EXPECT_TRUE(fs::is_empty(m_dir->Path() / "data" / "content"));
    const auto problems = m_server->GetStore().CheckConsistency();
    EXPECT_TRUE(problems.empty()) << problems.front();
}

// Regression: start-up removed .upload-/.export- leftovers only; temporary
// files of atomic writes and content without a row stayed for ever.
TEST_F(DurabilityTest, StartUpReconcilesContentWithTheDatabase) {
    const Reply kept =
        GData("POST", kList, m_token, "kept", {"Content-Type: text/plain", "Slug: kept.txt"});
    const Reply lost =
        GData("POST", kList, m_token, "lost", {"Content-Type: text/plain", "Slug: lost.txt"});
    const std::string keptId = Between(kept.body, "<gd:resourceId>document:", "<");
    const std::string lostId = Between(lost.body, "<gd:resourceId>document:", "<");
    m_client.reset();
    m_server->Stop();
    m_server.reset();
    const fs::path content = m_dir->Path() / "data" / "content";
    for (const std::string& name : {keptId + ".tmp-a1b2c3d4", std::string(".upload-zz"),
                                    std::string(".export-yy"), std::string("orphan")}) {
        std::ofstream(content / name) << "left over";
    }
    fs::remove(content / lostId);

    Store store((m_dir->Path() / "data").string(), 1000,
                TestDatabase((m_dir->Path() / "data").string()));
    const Reconciliation& found = store.LastReconciliation();
    EXPECT_EQ(found.removedTemporary, 3);
    EXPECT_EQ(found.quarantined, std::vector<std::string>{"orphan"});
    EXPECT_EQ(found.missing, std::vector<std::string>{lostId});
    EXPECT_TRUE(fs::exists(m_dir->Path() / "data" / "quarantine" / "orphan"));
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(content)) left.push_back(e.path().filename());
    EXPECT_EQ(left, std::vector<std::string>{keptId});
    // Reported, not hidden: the entry whose content is gone is still listed
    // as a problem.
    EXPECT_EQ(store.CheckConsistency(),
              std::vector<std::string>{"entry without content: " + lostId});
}

// Regression: a second process starting on the folder (another service,
// or "add-user" while the service runs) removed the first one's upload in
// progress and moved a file it had just stored aside. With a live service
// on the folder only files nobody wrote for a long time are cleaned up.
TEST_F(DurabilityTest, StartUpLeavesTheFilesALiveServiceMayStillWrite) {
    const fs::path content = m_dir->Path() / "data" / "content";
    struct Case {
        std::string name;
        std::chrono::hours age;
        bool left;
    };
    const std::vector<Case> cases = {
        {".upload-inprogress", std::chrono::hours(0), true},
        {"justrenamed", std::chrono::hours(0), true},
        {".upload-stale", std::chrono::hours(2), false},
        {"oldorphan", std::chrono::hours(2), false},
    };
    for (const auto& c : cases) {
        std::ofstream(content / c.name) << "bytes";
        fs::last_write_time(content / c.name, fs::file_time_type::clock::now() - c.age);
    }
    const std::string data = (m_dir->Path() / "data").string();
    Store second(data, 1000, TestDatabase(data));
    EXPECT_EQ(second.LastReconciliation().removedTemporary, 1);
    EXPECT_EQ(second.LastReconciliation().quarantined, std::vector<std::string>{"oldorphan"});
    for (const auto& c : cases) EXPECT_EQ(fs::exists(content / c.name), c.left) << c.name;

    // Once the service is gone, the next start cleans up everything.
    m_client.reset();
    m_server.reset();
    Store alone(data, 1000, TestDatabase(data));
    EXPECT_EQ(alone.LastReconciliation().removedTemporary, 1);
    EXPECT_EQ(alone.LastReconciliation().quarantined, std::vector<std::string>{"justrenamed"});
}

}  // namespace
}  // namespace tallowdesk::server::test
