#include <tinyxml2.h>

#include "ServerTestSupport.h"

namespace tallowdesk::server::test {
namespace {

constexpr const char* kAtom = "Content-Type: application/atom+xml";
constexpr const char* kBob = "bob@example.test";

std::string RuleEntry(const std::string& scopeType, const std::string& value,
                      const std::string& role, const std::string& etag = {}) {
    std::string x =
        "<entry xmlns=\"http://www.w3.org/2005/Atom\"  "
        "xmlns:gAcl='http://schemas.google.com/acl/2007'   "
        "xmlns:gd='http://schemas.google.com/g/2005'";
    if (!etag.empty()) x += "  gd:etag='" + etag + "'";
    x += "><category scheme='http://schemas.google.com/g/2005#kind' "
         "term='http://schemas.google.com/acl/2007#accessRule'/>"
         "<gAcl:role value='" +
         role + "'/><gAcl:scope type='" + scopeType + "'";
    if (scopeType != "default") x += "  value='" + value + "'";
    return x + "/></entry>";
}

struct Rule {
    std::string etag, editHref, role, scopeType, scopeValue;
};

std::vector<Rule> Rules(const std::string& feed) {
    tinyxml2::XMLDocument doc;
    doc.Parse(feed.c_str());
    std::vector<Rule> rules;
    const auto* root = doc.FirstChildElement("feed");
    for (auto* e = root ? root->FirstChildElement("entry") : nullptr; e;
         e = e->NextSiblingElement("entry")) {
        Rule r;
        auto text = [](const char* v) { return v ? std::string(v) : std::string(); };
        r.etag = text(e->Attribute("gd:etag"));
        for (auto* l = e->FirstChildElement("link"); l; l = l->NextSiblingElement("link")) {
            if (text(l->Attribute("rel")) == "edit") r.editHref = text(l->Attribute("href"));
        }
        r.role = text(e->FirstChildElement("gAcl:role")->Attribute("value"));
        r.scopeType = text(e->FirstChildElement("gAcl:scope")->Attribute("type"));
        r.scopeValue = text(e->FirstChildElement("gAcl:scope")->Attribute("value"));
        rules.push_back(r);
    }
    return rules;
}

// What the sharing dialogs rely on from an entry's access-control feed.
class AclTest : public ServerTest {
protected:
    void SetUp() override {
        ServerTest::SetUp();
        StartServer();
        m_server->AddUser(kBob, "bob-secret");
        m_token = Token();
        const Reply created = CreateFolder(m_token, "Plans");
        m_id = Between(created.body, "<gd:resourceId>folder:", "</gd:resourceId>");
        ASSERT_FALSE(m_id.empty()) << created.body;
        m_acl = std::string(kList) + "/folder%3A" + m_id + "/acl";
    }

    std::vector<Rule> Read() {
        const Reply feed = GData("GET", m_acl, m_token);
        EXPECT_EQ(feed.status, 200);
        return Rules(feed.body);
    }

    Reply Add(const std::string& type, const std::string& value, const std::string& role) {
        return GData("POST", m_acl, m_token, RuleEntry(type, value, role), {kAtom});
    }

    std::string m_token, m_id, m_acl;
};

void ExpectGDataError(const Reply& reply, long status) {
    EXPECT_EQ(reply.status, status) << reply.body;
    EXPECT_EQ(reply.Header("Content-Type").rfind("application/vnd.google.gdata.error+xml", 0), 0u);
    EXPECT_NE(reply.body.find("<errors"), std::string::npos);
    EXPECT_NE(reply.body.find("<internalReason>"), std::string::npos);
}

TEST_F(AclTest, TheOwnerRuleComesFirstAndEveryRuleHasAnEtag) {
    ASSERT_EQ(Add("user", kBob, "reader").status, 201);
    ASSERT_EQ(Add("domain", "example.com", "writer").status, 201);
    ASSERT_EQ(Add("default", "", "reader").status, 201);
    const auto rules = Read();
    ASSERT_EQ(rules.size(), 4u);
    EXPECT_EQ(rules[0].role, "owner");
    EXPECT_EQ(rules[0].scopeValue, kAlice);
    EXPECT_EQ(rules[3].scopeType, "default");
    EXPECT_EQ(rules[3].scopeValue, "");
    for (const auto& rule : rules) {
        EXPECT_EQ(rule.etag.rfind("W/\"", 0), 0u) << rule.etag;
        EXPECT_FALSE(rule.editHref.empty());
    }
}

// A writer may rename a shared entry but not take it out of the owner's
// trash, nor send it there.
TEST_F(AclTest, OnlyTheOwnerTrashesOrRestores) {
    ASSERT_EQ(Add("user", kBob, "writer").status, 201);
    const std::string bob = Token(kBob, "bob-secret");
    const std::string entry = std::string(kList) + "/folder%3A" + m_id;
    auto trashedLabel = [](const std::string& label) {
        return "<entry xmlns='http://www.w3.org/2005/Atom'><category "
               "scheme='http://schemas.google.com/g/2005/labels' "
               "term='http://schemas.google.com/g/2005/labels#trashed' label='" +
               label + "'/></entry>";
    };
    ExpectGDataError(GData("PUT", entry, bob, trashedLabel("trashed"), {kAtom, "If-Match: *"}),
                     403);
    ASSERT_EQ(GData("DELETE", entry, m_token, {}, {"If-Match: *"}).status, 200);
    const Reply refused = GData("PUT", entry, bob, trashedLabel(""), {kAtom, "If-Match: *"});
    ExpectGDataError(refused, 403);
    EXPECT_NE(refused.body.find("Only the owner"), std::string::npos);
    EXPECT_NE(GData("GET", entry, m_token).body.find("labels#trashed"), std::string::npos);
}

TEST_F(AclTest, ADuplicateOrAStaleEtagIsAGDataError) {
    ASSERT_EQ(Add("user", kBob, "reader").status, 201);
    ExpectGDataError(Add("user", kBob, "writer"), 409);
    const Rule bob = Read()[1];

    // The dialogs send If-Match "*" with the etag inside the entry.
    const Reply changed =
        GData("PUT", bob.editHref, m_token, RuleEntry("user", kBob, "writer", bob.etag),
              {kAtom, "If-Match: *"});
    ASSERT_EQ(changed.status, 200) << changed.body;
    EXPECT_EQ(Read()[1].role, "writer");
    // The etag read before the change is stale now.
    ExpectGDataError(
        GData("PUT", bob.editHref, m_token, RuleEntry("user", kBob, "reader", bob.etag), {kAtom}),
        412);
    ExpectGDataError(GData("DELETE", bob.editHref, m_token, {}, {"If-Match: " + bob.etag}), 412);
    EXPECT_EQ(GData("DELETE", Read()[0].editHref, m_token, {}, {"If-Match: *"}).status, 403);
    EXPECT_EQ(GData("DELETE", bob.editHref, m_token, {}, {"If-Match: *"}).status, 200);
    EXPECT_EQ(Read().size(), 1u);
}

TEST_F(AclTest, TheDefaultRuleOpensTheEntryToAnyoneSignedIn) {
    const std::string entry = std::string(kList) + "/folder%3A" + m_id;
    const std::string bob = Token(kBob, "bob-secret");
    EXPECT_EQ(GData("GET", entry, bob).status, 404);
    ASSERT_EQ(Add("default", "", "reader").status, 201);
    EXPECT_EQ(GData("GET", entry, bob).status, 200);
    // Readable, but bob may not share it on.
    EXPECT_EQ(GData("POST", m_acl, bob, RuleEntry("user", "carol@example.test", "reader"), {kAtom})
                  .status,
              403);
    const Rule open = Read()[1];
    ASSERT_EQ(GData("DELETE", open.editHref, m_token, {}, {"If-Match: *"}).status, 200);
    EXPECT_EQ(GData("GET", entry, bob).status, 404);
}

std::string InviteEntry(bool allowed) {
    return std::string(
               "<entry xmlns='http://www.w3.org/2005/Atom' "
               "xmlns:docs='http://schemas.google.com/docs/2007'>"
               "<docs:writersCanInvite value='") +
           (allowed ? "true" : "false") + "'/></entry>";
}

// Turned off by the owner, writers may edit but not change who has access.
TEST_F(AclTest, WritersChangeSharingOnlyWhileTheOwnerLetsThem) {
    ASSERT_EQ(Add("user", kBob, "writer").status, 201);
    const std::string bob = Token(kBob, "bob-secret");
    const std::string entry = std::string(kList) + "/folder%3A" + m_id;
    const std::string off = "writersCanInvite value='false'";
    const Reply put = GData("PUT", entry, m_token, InviteEntry(false), {kAtom, "If-Match: *"});
    ASSERT_EQ(put.status, 200) << put.body;
    EXPECT_NE(put.body.find(off), std::string::npos);
    EXPECT_NE(GData("GET", entry, m_token).body.find(off), std::string::npos);
    const Rule bobRule = Read()[1];
    struct Case {
        std::string method, url, body;
    };
    const std::vector<Case> refused = {
        {"POST", m_acl, RuleEntry("user", "carol@example.test", "writer")},
        {"POST", m_acl, RuleEntry("default", "", "writer")},
        {"PUT", bobRule.editHref, RuleEntry("user", kBob, "reader", bobRule.etag)},
        {"DELETE", bobRule.editHref, ""},
        {"PUT", entry, InviteEntry(true)},
    };
    for (const auto& c : refused) {
        EXPECT_EQ(GData(c.method, c.url, bob, c.body, {kAtom, "If-Match: *"}).status, 403)
            << c.method << " " << c.url << " " << c.body;
    }
    EXPECT_EQ(Read().size(), 2u);
    EXPECT_NE(GData("GET", entry, m_token).body.find(off), std::string::npos);
    // Turned on again, the writer shares as before.
    ASSERT_EQ(GData("PUT", entry, m_token, InviteEntry(true), {kAtom, "If-Match: *"}).status, 200);
    EXPECT_EQ(GData("POST", m_acl, bob, RuleEntry("user", "carol@example.test", "reader"), {kAtom})
                  .status,
              201);
}

// A share of the top folder reaches every level below it: what a listing
// shows can be opened.
TEST_F(AclTest, AReaderOfTheTopFolderOpensEveryLevelBelowIt) {
    std::vector<std::string> chain{m_id};
    for (int depth = 1; depth <= 70; ++depth) {
        chain.push_back(PutEntry(m_server->GetStore(), kAlice, "folder",
                                 "Level " + std::to_string(depth), {chain.back()}));
    }
    ASSERT_EQ(Add("user", kBob, "reader").status, 201);
    const std::string bob = Token(kBob, "bob-secret");
    for (const std::size_t depth :
         {std::size_t{1}, std::size_t{64}, std::size_t{65}, std::size_t{66}, std::size_t{70}}) {
        SCOPED_TRACE(depth);
        const std::string above = std::string(kList) + "/folder%3A" + chain[depth - 1];
        EXPECT_EQ(EntryTitles(GData("GET", above + "/contents", bob).body),
                  (std::vector<std::string>{"Level " + std::to_string(depth)}));
        EXPECT_EQ(GData("GET", std::string(kList) + "/folder%3A" + chain[depth], bob).status, 200);
    }
}

}  // namespace
}  // namespace tallowdesk::server::test
