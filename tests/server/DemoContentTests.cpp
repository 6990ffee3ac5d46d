#include <tinyxml2.h>

#include <algorithm>

#include "ServerTestSupport.h"

namespace tallowdesk::server::test {
namespace {

class DemoContentTest : public ServerTest {
protected:
    void SetUp() override {
        ServerTest::SetUp();
        StartServer();
        m_server->SeedDemo();
        m_token = Token(kDemoEmail, kDemoPassword);
    }

    std::string Feed(const std::string& path) {
        const Reply r = GData("GET", path, m_token);
        EXPECT_EQ(r.status, 200) << path << ": " << r.body;
        return r.body;
    }

    // The <entry> element text whose title is `title`.
    static std::string EntryNamed(const std::string& feed, const std::string& title) {
        const auto at = feed.find("<title>" + title + "</title>");
        if (at == std::string::npos) return {};
        const auto start = feed.rfind("<entry", at);
        return feed.substr(start, feed.find("</entry>", at) - start);
    }

    std::string m_token;
};

TEST_F(DemoContentTest, SeedingTwiceChangesNothing) {
    const auto before = EntryTitles(Feed(std::string(kList) + "?showfolders=true"));
    m_server->SeedDemo();
    EXPECT_EQ(EntryTitles(Feed(std::string(kList) + "?showfolders=true")), before);
}

TEST_F(DemoContentTest, CataloguesShowTheirPartOfTheAccount) {
    const auto root = EntryTitles(Feed("/feeds/default/private/full/folder%3Aroot/contents"));
    for (const char* title : {"Projects", "Photos", "Meeting notes", "Invoice 2041.pdf"}) {
        EXPECT_NE(std::find(root.begin(), root.end(), title), root.end()) << title;
    }
    const auto shared = EntryTitles(Feed("/feeds/default/private/full/-/-mine?showfolders=true"));
    EXPECT_EQ(shared.size(), 3u);
    EXPECT_NE(std::find(shared.begin(), shared.end(), "Team handbook"), shared.end());
    EXPECT_EQ(EntryTitles(Feed("/feeds/default/private/full/-/spreadsheet")).size(), 3u);
    EXPECT_EQ(EntryTitles(Feed("/feeds/default/private/full/-/drawing")).size(), 2u);
    const auto trash = EntryTitles(Feed("/feeds/default/private/full/-/trashed?showfolders=true"));
    EXPECT_EQ(trash.size(), 3u);
    const auto starred = EntryTitles(Feed("/feeds/default/private/full/-/starred"));
    EXPECT_NE(std::find(starred.begin(), starred.end(), "Budget 2026"), starred.end());
}

TEST_F(DemoContentTest, FileEntriesCarryMimeLabelSizeAndDownload) {
    const std::string feed = Feed("/feeds/default/private/full/folder%3Aroot/contents");
    const std::string pdf = EntryNamed(feed, "Invoice 2041.pdf");
    ASSERT_FALSE(pdf.empty());
    EXPECT_NE(pdf.find("term='http://schemas.google.com/docs/2007#pdf' label='application/pdf'"),
              std::string::npos);
    EXPECT_NE(pdf.find("<link rel='edit-media' type='application/pdf'"), std::string::npos);
    const std::string size = Between(pdf, "<gd:quotaBytesUsed>", "<");
    EXPECT_GT(std::stol(size), 100);

    const std::string src = Between(pdf, "<content type='application/pdf' src='", "'");
    tinyxml2::XMLDocument unescape;
    unescape.Parse(("<a href='" + src + "'/>").c_str());
    const std::string url = unescape.FirstChildElement("a")->Attribute("href");
    const Reply download = m_client->Send(
        "GET", url, {"GData-Version:3.0", "Authorization:GoogleLogin auth=" + m_token});
    ASSERT_EQ(download.status, 200);
    EXPECT_EQ(download.body.rfind("%PDF-1.4", 0), 0u);
    EXPECT_EQ(std::to_string(download.body.size()), size);
    EXPECT_EQ(m_client->Send("GET", url).status, 401);

    const std::string doc = EntryNamed(feed, "Meeting notes");
    const std::string docSrc = Between(doc, "<content type='text/html' src='", "'");
    EXPECT_EQ(GData("GET", docSrc + "&exportFormat=html", m_token).status, 200);
    EXPECT_EQ(GData("GET", docSrc + "&exportFormat=exe", m_token).status, 400);
}

TEST_F(DemoContentTest, LargeFolderNeedsSeveralPages) {
    const std::string root = Feed("/feeds/default/private/full/folder%3Aroot/contents/-/folder");
    const std::string logs = EntryNamed(root, "Server Logs 2025");
    std::string url = Between(logs, "<content type='application/atom+xml;type=feed' src='", "'");
    ASSERT_FALSE(url.empty());
    std::size_t total = 0;
    int pages = 0;
    while (!url.empty() && pages < 10) {
        const std::string page = Feed(url);
        total += EntryTitles(page).size();
        const std::string entry = EntryNamed(page, EntryTitles(page).front());
        EXPECT_NE(entry.find("2007#parent' type='application/atom+xml' href='"), std::string::npos);
        EXPECT_NE(entry.find("title='Server Logs 2025'"), std::string::npos);
        url = NextLink(page);
        ++pages;
    }
    EXPECT_EQ(total, 250u);
    EXPECT_EQ(pages, 3);
}

}  // namespace
}  // namespace tallowdesk::server::test
