#include <fstream>

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

}  // namespace
}  // namespace tallowdesk::server::test
