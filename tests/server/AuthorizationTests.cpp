#include <array>
#include <map>

#include "ServerTestSupport.h"
#include "Store.h"

namespace tallowdesk::server::test {
namespace {

constexpr const char* kAtom = "Content-Type: application/atom+xml";

// Who asks. Each role reaches Alice's folder through one sharing rule on the
// folder (or through none), so every row shows what that rule grants.
enum class Role {
    Owner,
    Writer,
    Reader,
    WriterNoInvite,
    GroupMember,
    DomainMember,
    Anybody,
    Stranger,
    NoToken,
    OtherService
};

enum class Op {
    List,
    Fetch,
    Download,
    Export,
    Rename,
    Star,
    Trash,
    Delete,
    FileIntoOwnFolder,
    CreateInFolder,
    UploadIntoFolder,
    OpenSessionForOther,
    SendIntoOthersSession,
    AclRead,
    AclAdd,
    AclChange,
    AclDelete
};

struct Account {
    const char* email;
    const char* rule;   // scope type of the rule on the folder; "" for none
    const char* scope;  // its value
    const char* role;   // reader or writer
};

const std::map<Role, Account> kAccounts = {
    {Role::Owner, {"alice@example.test", "", "", ""}},
    {Role::Writer, {"wanda@example.test", "user", "wanda@example.test", "writer"}},
    {Role::Reader, {"rita@example.test", "user", "rita@example.test", "reader"}},
    {Role::WriterNoInvite, {"walt@example.test", "user", "walt@example.test", "writer"}},
    {Role::GroupMember, {"gus@example.test", "group", "team@example.test", "writer"}},
    {Role::DomainMember, {"dora@partner.test", "domain", "partner.test", "reader"}},
    {Role::Anybody, {"ann@elsewhere.test", "default", "", "reader"}},
    {Role::Stranger, {"stan@elsewhere.test", "", "", ""}},
    {Role::NoToken, {"", "", "", ""}},
    {Role::OtherService, {"wanda@example.test", "user", "wanda@example.test", "writer"}},
};

// Expected status of each operation: one column per role, in the order of
// Role above.
struct Row {
    Op op;
    const char* name;
    std::array<long, 10> expected;
};

// clang-format off
const Row kTable[] = {
    //                                           own  wrtr read noinv grp  dom  any  strgr none other
    {Op::List,                  "list",            {200, 200, 200, 200, 200, 200, 200, 404, 401, 401}},
    {Op::Fetch,                 "fetch",           {200, 200, 200, 200, 200, 200, 200, 404, 401, 401}},
    {Op::Download,              "download",        {200, 200, 200, 200, 200, 200, 200, 404, 401, 401}},
    {Op::Export,                "export",          {200, 200, 200, 200, 200, 200, 200, 404, 401, 401}},
    {Op::Rename,                "rename",          {200, 200, 403, 200, 200, 403, 403, 404, 401, 401}},
    {Op::Star,                  "star",            {200, 200, 200, 200, 200, 200, 200, 404, 401, 401}},
    {Op::Trash,                 "trash",           {200, 403, 403, 403, 403, 403, 403, 404, 401, 401}},
    {Op::Delete,                "delete",          {200, 403, 403, 403, 403, 403, 403, 404, 401, 401}},
    {Op::FileIntoOwnFolder,     "file into folder",{201, 201, 403, 201, 201, 403, 403, 404, 401, 401}},
    {Op::CreateInFolder,        "create in folder",{201, 201, 403, 201, 201, 403, 403, 404, 401, 401}},
    {Op::UploadIntoFolder,      "upload into",     {201, 201, 403, 201, 201, 403, 403, 404, 401, 401}},
    {Op::OpenSessionForOther,   "open session",    {200, 403, 403, 403, 403, 403, 403, 403, 401, 401}},
    {Op::SendIntoOthersSession, "send into session",{200, 404, 404, 404, 404, 404, 404, 404, 401, 401}},
    {Op::AclRead,               "acl read",        {200, 200, 200, 200, 200, 200, 200, 404, 401, 401}},
    {Op::AclAdd,                "acl add",         {201, 201, 403, 403, 201, 403, 403, 404, 401, 401}},
    {Op::AclChange,             "acl change",      {200, 200, 403, 403, 200, 403, 403, 404, 401, 401}},
    {Op::AclDelete,             "acl delete",      {200, 200, 403, 403, 200, 403, 403, 404, 401, 401}},
};
// clang-format on

class AuthorizationTest : public ServerTest {
protected:
    void SetUp() override {
        ServerTest::SetUp();
        StartServer();
        for (const auto& [role, account] : kAccounts) {
            if (role != Role::Owner && *account.email) m_server->AddUser(account.email, "pw");
        }
        m_server->GetStore().AddGroupMember("team@example.test", "gus@example.test");
    }

    // Alice's folder with a document and a file in it, shared for `role`.
    struct Fixture {
        std::string folder, doc, file;
    };
    Fixture Make(Role role) {
        Store& store = m_server->GetStore();
        Fixture x;
        x.folder = PutEntry(store, kAlice, "folder", "Plans");
        x.doc = PutEntry(store, kAlice, "document", "Budget", {x.folder},
                         "<html><body><p>numbers</p></body></html>");
        x.file = PutEntry(store, kAlice, "file", "scan.bin", {x.folder},
                          std::string("\x01\x02\x03", 3), "application/octet-stream");
        const Account& account = kAccounts.at(role);
        if (*account.rule) store.AddAclRule(x.folder, account.rule, account.scope, account.role);
        if (role == Role::WriterNoInvite) {
            store.SetWritersCanInvite(x.folder, false);
            store.SetWritersCanInvite(x.doc, false);
        }
        // A rule that the ACL rows change and delete.
        store.AddAclRule(x.doc, "user", "someone@example.test", "reader");
        return x;
    }

    std::string Credential(Role role) {
        if (role == Role::NoToken) return {};
        const char* email = kAccounts.at(role).email;
        const Reply reply = ClientLogin(email, email == std::string(kAlice) ? kPassword : "pw",
                                        role == Role::OtherService ? "wise" : "writely");
        return Between(reply.body, "Auth=", "\n");
    }

    std::string Cookie(Role role) {
        if (role == Role::NoToken || role == Role::OtherService) return "X-No-Cookie: 1";
        const auto session = m_server->GetStore().CreateSession(kAccounts.at(role).email);
        return "Cookie: SID=" + session.sid + "; HSID=" + session.hsid;
    }

    Reply Ask(const std::string& method, const std::string& path, const std::string& token,
              const std::string& body = {}, std::vector<std::string> extra = {}) {
        std::vector<std::string> headers = {"GData-Version: 3.0"};
        if (!token.empty()) headers.push_back("Authorization: GoogleLogin auth=" + token);
        headers.insert(headers.end(), extra.begin(), extra.end());
        return m_client->Send(method, Url(path), headers, body);
    }

    Reply Run(Op op, Role role) {
        const Fixture x = Make(role);
        const std::string token = Credential(role);
        const std::string list = kList;
        const std::string folder = list + "/folder%3A" + x.folder;
        const std::string doc = list + "/document%3A" + x.doc;
        const std::string rule =
            "<entry xmlns='http://www.w3.org/2005/Atom' "
            "xmlns:gAcl='http://schemas.google.com/acl/2007'><gAcl:role value='ROLE'/>"
            "<gAcl:scope type='user' value='WHO'/></entry>";
        auto ruleFor = [&](const std::string& role, const std::string& who) {
            std::string r = rule;
            r.replace(r.find("ROLE"), 4, role);
            r.replace(r.find("WHO"), 3, who);
            return r;
        };
        switch (op) {
            case Op::List:
                return Ask("GET", folder + "/contents", token);
            case Op::Fetch:
                return Ask("GET", doc, token);
            case Op::Download:
                return Ask("GET", "/feeds/download/files/" + x.file, token);
            case Op::Export:
                return Ask(
                    "GET",
                    "/feeds/download/documents/export/Export?id=" + x.doc + "&exportFormat=txt",
                    token);
            case Op::Rename:
                return Ask("PUT", doc, token,
                           "<entry xmlns='http://www.w3.org/2005/Atom'><title>Renamed</title>"
                           "</entry>",
                           {kAtom, "If-Match: *"});
            case Op::Star:
                return Ask("PUT", doc, token,
                           "<entry xmlns='http://www.w3.org/2005/Atom'><category "
                           "scheme='http://schemas.google.com/g/2005/labels' "
                           "term='http://schemas.google.com/g/2005/labels#starred' "
                           "label='starred'/></entry>",
                           {kAtom, "If-Match: *"});
            case Op::Trash:
                return Ask("DELETE", doc, token, {}, {"If-Match: *"});
            case Op::Delete:
                return Ask("DELETE", folder + "?delete=true", token, {}, {"If-Match: *"});
            case Op::FileIntoOwnFolder: {
                // Into a folder the caller owns (the stranger's own for those
                // without an account).
                const char* email = kAccounts.at(role).email;
                const std::string mine =
                    PutEntry(m_server->GetStore(), *email ? email : kAlice, "folder", "Mine");
                return Ask("POST", list + "/folder%3A" + mine + "/contents", token,
                           "<entry xmlns='http://www.w3.org/2005/Atom' "
                           "xmlns:gd='http://schemas.google.com/g/2005'><gd:resourceId>"
                           "document:" +
                               x.doc + "</gd:resourceId></entry>",
                           {kAtom});
            }
            case Op::CreateInFolder:
                return Ask("POST", folder + "/contents", token, FolderEntryXml("New"), {kAtom});
            case Op::UploadIntoFolder:
                return Ask("POST", folder + "/contents", token, "hello",
                           {"Content-Type: text/plain", "Slug: hello.txt"});
            case Op::OpenSessionForOther:
                return m_client->Send(
                    "POST", Url("/upload/resumableupload?authuser=0&user=alice%40example.test"),
                    {Cookie(role), "Authorization: GoogleLogin auth=" + token},
                    R"({"protocolVersion":"0.8","createSessionRequest":{"fields":[)"
                    R"({"external":{"name":"file","filename":"a.bin","formPost":{},"size":3}}]}})");
            case Op::SendIntoOthersSession: {
                const auto alice = m_server->GetStore().CreateSession(kAlice);
                m_server->SetSessionUrlStyle(AnswerStyle::Header);
                const Reply opened = m_client->Send(
                    "POST", Url("/upload/resumableupload?authuser=0&user=alice%40example.test"),
                    {"Cookie: SID=" + alice.sid + "; HSID=" + alice.hsid},
                    R"({"protocolVersion":"0.8","createSessionRequest":{"fields":[)"
                    R"({"external":{"name":"file","filename":"a.bin","formPost":{},"size":3}}]}})");
                EXPECT_EQ(opened.status, 200) << opened.body;
                const std::string form =
                    "--XyZ\r\nContent-Disposition: form-data; name=\"Filedata\"; "
                    "filename=\"a.bin\"\r\nContent-Type: application/octet-stream\r\n\r\nabc"
                    "\r\n--XyZ--\r\n";
                return m_client->Send("POST", opened.Header("Location"),
                                      {Cookie(role),
                                       "Content-Type: multipart/form-data; "
                                       "boundary=XyZ"},
                                      form);
            }
            case Op::AclRead:
                return Ask("GET", doc + "/acl", token);
            case Op::AclAdd:
                return Ask("POST", doc + "/acl", token, ruleFor("reader", "new@example.test"),
                           {kAtom});
            case Op::AclChange:
                return Ask("PUT", doc + "/acl/user%3Asomeone%40example.test", token,
                           ruleFor("writer", "someone@example.test"), {kAtom, "If-Match: *"});
            case Op::AclDelete:
                return Ask("DELETE", doc + "/acl/user%3Asomeone%40example.test", token, {},
                           {"If-Match: *"});
        }
        return {};
    }
};

const char* RoleName(Role role) {
    static const char* names[] = {"owner",        "writer",
                                  "reader",       "writer without invite rights",
                                  "group member", "domain member",
                                  "anybody rule", "stranger",
                                  "no token",     "other service's token"};
    return names[static_cast<int>(role)];
}

// Regression: a reader could file the owner's entries into a folder of their
// own, gain write access through it and delete the owner's entries for good.
TEST_F(AuthorizationTest, EveryRoleGetsExactlyItsRights) {
    for (const Row& row : kTable) {
        for (int r = 0; r < 10; ++r) {
            const Role role = static_cast<Role>(r);
            const Reply reply = Run(row.op, role);
            EXPECT_EQ(reply.status, row.expected[static_cast<std::size_t>(r)])
                << row.name << " as " << RoleName(role) << ": " << reply.body.substr(0, 300);
        }
    }
}

class OwnershipTest : public AuthorizationTest {};

// Regression: once a reader had filed the owner's document into the reader's
// folder, owning that folder gave write access to the document.
TEST_F(OwnershipTest, AFolderOfAnotherAccountGrantsNothingOverWhatIsInIt) {
    Store& store = m_server->GetStore();
    const std::string id = PutEntry(store, kAlice, "document", "Alice's");
    const std::string wandas = PutEntry(store, "wanda@example.test", "folder", "Wanda's");
    store.AddAclRule(id, "user", "wanda@example.test", "writer");
    store.AddParent(id, wandas);
    store.AddAclRule(wandas, "user", "stan@elsewhere.test", "writer");
    EXPECT_EQ(store.AccessOf("wanda@example.test", id), Access::Write);
    EXPECT_EQ(store.AccessOf("stan@elsewhere.test", id), Access::None);
    store.RemoveAclRule(id, "user", "wanda@example.test");
    EXPECT_EQ(store.AccessOf("wanda@example.test", id), Access::None);
}

// Regression: deleting one's own folder for good removed every entry below
// it left without a parent, whoever owned it.
TEST_F(OwnershipTest, PermanentDeleteKeepsOtherAccountsEntries) {
    const std::string wanda = Credential(Role::Writer);
    Store& store = m_server->GetStore();
    const std::string shared = PutEntry(store, kAlice, "folder", "Shared");
    store.AddAclRule(shared, "user", "wanda@example.test", "writer");
    const Reply upload = Ask("POST", std::string(kList) + "/folder%3A" + shared + "/contents",
                             wanda, "hello", {"Content-Type: text/plain", "Slug: hers.txt"});
    ASSERT_EQ(upload.status, 201) << upload.body;
    const std::string hers = Between(upload.body, "<gd:resourceId>document:", "<");
    const std::string alices = PutEntry(store, kAlice, "document", "mine", {shared}, "<p>x</p>");

    const Reply gone = Ask("DELETE", std::string(kList) + "/folder%3A" + shared + "?delete=true",
                           Token(), {}, {"If-Match: *"});
    ASSERT_EQ(gone.status, 200);
    EXPECT_FALSE(store.GetEntry(alices));
    ASSERT_TRUE(store.GetEntry(hers));
    EXPECT_TRUE(store.GetEntry(hers)->parents.empty());
    EXPECT_TRUE(std::filesystem::exists(store.ContentPath(hers)));
    EXPECT_EQ(Ask("GET", std::string(kList) + "/document%3A" + hers, wanda).status, 200);
}

// Regression: a folder could be filed into itself or its own subfolder, and a
// recursive download then followed the loop for ever.
TEST_F(OwnershipTest, FolderCannotBeFiledIntoItselfOrBelow) {
    Store& store = m_server->GetStore();
    const std::string top = PutEntry(store, kAlice, "folder", "Top");
    const std::string middle = PutEntry(store, kAlice, "folder", "Middle", {top});
    const std::string bottom = PutEntry(store, kAlice, "folder", "Bottom", {middle});
    const std::string token = Token();
    for (const std::string& into : {top, middle, bottom}) {
        const Reply reply =
            Ask("POST", std::string(kList) + "/folder%3A" + into + "/contents", token,
                "<entry xmlns='http://www.w3.org/2005/Atom' "
                "xmlns:gd='http://schemas.google.com/g/2005'><gd:resourceId>folder:" +
                    top + "</gd:resourceId></entry>",
                {kAtom});
        EXPECT_EQ(reply.status, 400) << into;
        EXPECT_NE(reply.body.find("<errors"), std::string::npos);
    }
    EXPECT_TRUE(store.GetEntry(top)->parents.empty());
}

}  // namespace
}  // namespace tallowdesk::server::test
