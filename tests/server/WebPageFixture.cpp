#include "WebPageFixture.h"

namespace tallowdesk::server::test {

void WebPageTest::SetUp() {
    ServerTest::SetUp();
    StartServer();
    m_server->AddUser(kBob, kBobPassword, "Bob");
    m_server->AddUser(kCarol, kCarolPassword, "Carol");
}

std::unique_ptr<Client> WebPageTest::Browser() const {
    return std::make_unique<Client>(m_server->CertPath());
}

std::unique_ptr<Client> WebPageTest::SignedIn(const std::string& email,
                                              const std::string& password) {
    auto client = Browser();
    const Reply form = client->Send("GET", PlainUrl("/accounts/ServiceLogin?service=writely"));
    EXPECT_EQ(form.status, 200);
    const std::string galx = client->Cookie("GALX");
    EXPECT_FALSE(galx.empty());
    char* escaped = curl_easy_escape(nullptr, email.c_str(), 0);
    const std::string body = "GALX=" + galx + "&continue=" + PlainUrl("/") + "&Email=" + escaped +
                             "&Passwd=" + password + "&service=writely";
    curl_free(escaped);
    const Reply signedIn =
        client->Send("POST", PlainUrl("/accounts/ServiceLoginAuth"), {}, body, false);
    EXPECT_EQ(signedIn.status, 302) << signedIn.body;
    EXPECT_FALSE(client->Cookie("SID").empty());
    return client;
}

std::string WebPageTest::FormToken(Client& client, const std::string& pagePath) {
    const Reply page = client.Send("GET", PlainUrl(pagePath));
    EXPECT_LT(page.status, 500);
    const std::string token = client.Cookie("TDFORM");
    EXPECT_EQ(token.size(), 32u);
    return token;
}

StoredEntry WebPageTest::Make(const std::string& kind, const std::string& title,
                              const std::string& mime, const std::string& content,
                              const std::string& owner, const std::vector<std::string>& parents) {
    NewEntry n;
    n.kind = kind;
    n.title = title;
    n.mime = mime;
    n.parents = parents;
    if (kind != "folder") n.content = content;
    return TheStore().Create(owner, n);
}

}  // namespace tallowdesk::server::test
