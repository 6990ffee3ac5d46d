#include <algorithm>
#include <vector>

#include "ServerTestSupport.h"

namespace tallowdesk::server::test {
namespace {

class SignInTest : public ServerTest {
protected:
    void SetUp() override {
        ServerTest::SetUp();
        StartServer();
    }
};

TEST_F(SignInTest, ClientLoginAnswersThreeLinesPerService) {
    const Reply writely = ClientLogin(kAlice, kPassword, "writely");
    ASSERT_EQ(writely.status, 200);
    EXPECT_EQ(writely.Header("Content-Type"), "text/plain");
    EXPECT_EQ(writely.body.rfind("SID=", 0), 0u);
    EXPECT_NE(writely.body.find("\nLSID="), std::string::npos);
    EXPECT_NE(writely.body.find("\nAuth="), std::string::npos);
    EXPECT_EQ(writely.body.back(), '\n');
    EXPECT_EQ(std::count(writely.body.begin(), writely.body.end(), '\n'), 3);

    const Reply wise = ClientLogin(kAlice, kPassword, "wise");
    ASSERT_EQ(wise.status, 200);
    const std::string writelyToken = Between(writely.body, "Auth=", "\n");
    const std::string wiseToken = Between(wise.body, "Auth=", "\n");
    EXPECT_NE(writelyToken, wiseToken);
    // Only the document-list token opens the document list.
    EXPECT_EQ(GData("GET", kList, writelyToken).status, 200);
    EXPECT_EQ(GData("GET", kList, wiseToken).status, 401);
}

TEST_F(SignInTest, ClientLoginErrors) {
    Reply bad = ClientLogin(kAlice, "wrong");
    EXPECT_EQ(bad.status, 403);
    EXPECT_EQ(bad.body, "Error=BadAuthentication\n");
    EXPECT_EQ(ClientLogin("nobody@example.test", kPassword).body, "Error=BadAuthentication\n");
    EXPECT_EQ(ClientLogin(kAlice, "").body, "Error=BadAuthentication\n");
    EXPECT_EQ(ClientLogin("Alice@Example.TEST", kPassword).status, 200);
    // A password with form characters arrives intact.
    m_server->AddUser("bob@example.test", "a&b=c+d %");
    EXPECT_EQ(ClientLogin("bob@example.test", "a&b=c+d %").status, 200);

    const Reply service = ClientLogin(kAlice, kPassword, "cl");
    EXPECT_EQ(service.status, 403);
    EXPECT_EQ(service.body, "Error=ServiceDisabled\n");

    m_server->SetAccountDisabled(kAlice, true);
    EXPECT_EQ(ClientLogin(kAlice, kPassword).body, "Error=AccountDisabled\n");
    m_server->SetAccountDisabled(kAlice, false);
    EXPECT_EQ(ClientLogin(kAlice, kPassword).status, 200);

    EXPECT_EQ(m_client->Send("GET", Url("/accounts/ClientLogin")).status, 405);
    // Credentials never travel in the clear.
    const Reply plain = m_client->Send("POST", PlainUrl("/accounts/ClientLogin"), {},
                                       "Email=alice%40example.test&Passwd=secret&service=writely");
    EXPECT_EQ(plain.status, 403);
    EXPECT_EQ(plain.body.find("Auth="), std::string::npos);
}

TEST_F(SignInTest, TokenOfDisabledAccountStopsWorking) {
    const std::string token = Token();
    m_server->SetAccountDisabled(kAlice, true);
    EXPECT_EQ(GData("GET", kList, token).status, 401);
}

TEST_F(SignInTest, ThreeFailuresAskForCaptchaThatMustBeSolved) {
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(ClientLogin(kAlice, "wrong").body, "Error=BadAuthentication\n");
    // Now even the right password needs the picture.
    Reply challenge = ClientLogin(kAlice, kPassword);
    ASSERT_EQ(challenge.status, 403);
    EXPECT_EQ(challenge.body.rfind("Url=", 0), 0u) << challenge.body;
    EXPECT_NE(challenge.body.find("\nError=CaptchaRequired\n"), std::string::npos);
    const std::string token = Between(challenge.body, "CaptchaToken=", "\n");
    const std::string url = Between(challenge.body, "CaptchaUrl=", "\n");
    ASSERT_FALSE(token.empty());
    EXPECT_EQ(url.rfind("Captcha?ctoken=", 0), 0u);
    EXPECT_EQ(challenge.body.back(), '\n');

    // The client fetches the picture over plain http under /accounts/.
    const Reply picture = m_client->Send("GET", PlainUrl("/accounts/" + url));
    ASSERT_EQ(picture.status, 200);
    EXPECT_EQ(picture.Header("Content-Type"), "image/png");
    EXPECT_EQ(picture.body.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));

    const auto answer = m_server->CaptchaAnswer(token);
    ASSERT_TRUE(answer);
    // A wrong answer uses the challenge up and brings a new one.
    Reply wrong = ClientLogin(kAlice, kPassword, "writely",
                              "&logintoken=" + token + "&logincaptcha=XXXXXXXX");
    EXPECT_NE(wrong.body.find("CaptchaRequired"), std::string::npos);
    EXPECT_FALSE(m_server->CaptchaAnswer(token));
    const std::string second = Between(wrong.body, "CaptchaToken=", "\n");
    const auto secondAnswer = m_server->CaptchaAnswer(second);
    ASSERT_TRUE(secondAnswer);

    char* escaped = curl_easy_escape(nullptr, second.c_str(), 0);
    const std::string tokenField = escaped;
    curl_free(escaped);
    Reply solved = ClientLogin(kAlice, kPassword, "writely",
                               "&logintoken=" + tokenField + "&logincaptcha=" + *secondAnswer);
    EXPECT_EQ(solved.status, 200) << solved.body;
    // Solved once, the account signs in normally again.
    EXPECT_EQ(ClientLogin(kAlice, kPassword, "wise").status, 200);
    EXPECT_EQ(m_client->Send("GET", PlainUrl("/accounts/Captcha?ctoken=nothing")).status, 404);
}

TEST_F(SignInTest, CaptchaCanBeSwitchedOnAndOff) {
    m_server->SetCaptchaRequired(kAlice, true);
    EXPECT_NE(ClientLogin(kAlice, kPassword).body.find("Error=CaptchaRequired"), std::string::npos);
    m_server->SetCaptchaRequired(kAlice, false);
    EXPECT_EQ(ClientLogin(kAlice, kPassword).status, 200);
}

TEST_F(SignInTest, WebFormSignInSetsSessionCookies) {
    // The first visit leads to the sign-in page, which sets GALX.
    const Reply first = m_client->Send("GET", Url(""), {}, {}, true);
    EXPECT_EQ(first.status, 200);
    const std::string galx = m_client->Cookie("GALX");
    ASSERT_FALSE(galx.empty());
    EXPECT_TRUE(m_client->Cookie("SID").empty());

    const std::string home = Url("/");
    const std::string form = "GALX=" + galx + "&continue=" + home + "&followup=" + home +
                             "&Email=alice%40example.test&Passwd=secret&service=writely";
    const Reply signedIn =
        m_client->Send("POST", Url("/accounts/ServiceLoginAuth"), {}, form, false);
    EXPECT_EQ(signedIn.status, 302);
    EXPECT_EQ(signedIn.Header("Location"), home);
    EXPECT_FALSE(m_client->Cookie("SID").empty());
    EXPECT_FALSE(m_client->Cookie("HSID").empty());

    const Reply page = m_client->Send("GET", home);
    EXPECT_EQ(page.status, 200);
    EXPECT_NE(page.body.find(kAlice), std::string::npos);
}

TEST_F(SignInTest, WebFormRefusesForeignFormTokenAndBadPassword) {
    m_client->Send("GET", Url("/accounts/ServiceLogin"));
    const std::string galx = m_client->Cookie("GALX");
    ASSERT_FALSE(galx.empty());
    const std::string tail = "&continue=https://evil.example/&Email=alice%40example.test";

    // A form token that does not match the cookie.
    Reply forged = m_client->Send("POST", Url("/accounts/ServiceLoginAuth"), {},
                                  "GALX=forged" + tail + "&Passwd=secret");
    EXPECT_EQ(forged.status, 400);
    EXPECT_TRUE(m_client->Cookie("SID").empty());

    Reply wrong = m_client->Send("POST", Url("/accounts/ServiceLoginAuth"), {},
                                 "GALX=" + galx + tail + "&Passwd=nope");
    EXPECT_EQ(wrong.status, 200);
    EXPECT_NE(wrong.body.find("incorrect"), std::string::npos);
    EXPECT_TRUE(m_client->Cookie("SID").empty());

    // Regression: a form token was good for any number of tries. The failed
    // try used it up; the page that came back carries a new one.
    const std::string fresh = m_client->Cookie("GALX");
    EXPECT_NE(fresh, galx);
    EXPECT_NE(wrong.body.find("value='" + fresh + "'"), std::string::npos);
    Reply replayed =
        m_client->Send("POST", Url("/accounts/ServiceLoginAuth"), {"Cookie: GALX=" + galx},
                       "GALX=" + galx + tail + "&Passwd=secret");
    EXPECT_EQ(replayed.status, 400);

    // Right password: the foreign continue address is replaced by our home page.
    Reply ok = m_client->Send("POST", Url("/accounts/ServiceLoginAuth"), {},
                              "GALX=" + fresh + tail + "&Passwd=secret");
    EXPECT_EQ(ok.status, 302);
    EXPECT_EQ(ok.Header("Location"), Url("/"));
}

// Regression: only the start of continue= was checked, so a line break
// after our own address planted headers (a session cookie of the sender's
// choice), and a tab made browsers go to another host.
TEST_F(SignInTest, WebFormContinueStaysOnThisServiceWithoutControls) {
    const std::string home = Url("/");
    struct Case {
        std::string continueField;  // as sent, form-encoded
        std::string location;
    };
    const std::vector<Case> cases = {
        {home + "%0D%0ASet-Cookie:%20SID=planted", home},
        {home + "x%0ALocation:%20https://evil.example/", home},
        {"/%09/evil.example/phish", home},
        {"//evil.example/", home},
        {"https://evil.example/", home},
        {Url("/folderview?id=root"), Url("/folderview?id=root")},
    };
    for (const auto& c : cases) {
        Client browser(m_server->CertPath());
        browser.Send("GET", Url("/accounts/ServiceLogin"));
        const std::string galx = browser.Cookie("GALX");
        const Reply r = browser.Send("POST", Url("/accounts/ServiceLoginAuth"), {},
                                     "GALX=" + galx + "&continue=" + c.continueField +
                                         "&Email=alice%40example.test&Passwd=secret");
        EXPECT_EQ(r.status, 302) << c.continueField;
        EXPECT_EQ(r.Header("Location"), c.location) << c.continueField;
        EXPECT_EQ(r.Headers("Set-Cookie").size(), 2u) << c.continueField;
    }
}

// Regression: a page of another site could sign the browser in to the
// sender's account (login CSRF).
TEST_F(SignInTest, WebFormRefusesFormsFromOtherSites) {
    struct Case {
        std::string header;
        long status;
    };
    const std::vector<Case> cases = {
        {"Origin: http://localhost:1", 403}, {"Origin: null", 403},
        {"Sec-Fetch-Site: cross-site", 403}, {"Sec-Fetch-Site: same-site", 403},
        {"Origin: " + Url(""), 302},
    };
    for (const auto& c : cases) {
        Client browser(m_server->CertPath());
        browser.Send("GET", Url("/accounts/ServiceLogin"));
        const std::string galx = browser.Cookie("GALX");
        const Reply r = browser.Send("POST", Url("/accounts/ServiceLoginAuth"), {c.header},
                                     "GALX=" + galx + "&Email=alice%40example.test&Passwd=secret");
        EXPECT_EQ(r.status, c.status) << c.header;
        EXPECT_EQ(browser.Cookie("SID").empty(), c.status != 302) << c.header;
    }
}

// Regression: known accounts were asked for a picture at the fourth wrong
// password, unknown ones answered BadAuthentication for ever, which told a
// stranger which addresses have accounts.
TEST_F(SignInTest, KnownAndUnknownAccountsAnswerAlike) {
    for (const std::string& email : {std::string(kAlice), std::string("nobody@example.test")}) {
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(ClientLogin(email, "wrong").body, "Error=BadAuthentication\n") << email;
        }
        EXPECT_TRUE(m_server->CaptchaDue(email)) << email;
        EXPECT_NE(ClientLogin(email, "wrong").body.find("\nError=CaptchaRequired\n"),
                  std::string::npos)
            << email;
    }
    // Counting the stranger created no account: the address is still free.
    m_server->AddUser("nobody@example.test", "fresh");
    EXPECT_EQ(ClientLogin("nobody@example.test", "fresh").status, 403);  // its picture is due
}

// Regression: the browser form had no picture, so three wrong guesses
// refused the owner's right password there until a sign-in elsewhere.
TEST_F(SignInTest, WebFormShowsThePictureAndTheRightAnswerSignsIn) {
    for (int i = 0; i < 3; ++i) ClientLogin(kAlice, "wrong");
    m_client->Send("GET", Url("/accounts/ServiceLogin"));
    const std::string form = "&Email=alice%40example.test&Passwd=secret";
    const Reply asked = m_client->Send("POST", Url("/accounts/ServiceLoginAuth"), {},
                                       "GALX=" + m_client->Cookie("GALX") + form);
    ASSERT_EQ(asked.status, 200);
    EXPECT_TRUE(m_client->Cookie("SID").empty());
    EXPECT_NE(asked.body.find("<img id='captcha' src='/accounts/Captcha?ctoken="),
              std::string::npos);
    const std::string token = Between(asked.body, "name='logintoken' value='", "'");
    const auto answer = m_server->CaptchaAnswer(token);
    ASSERT_TRUE(answer) << asked.body;

    char* escaped = curl_easy_escape(nullptr, token.c_str(), 0);
    const std::string tokenField = escaped;
    curl_free(escaped);
    struct Case {
        std::string captcha;
        long status;
    };
    const std::vector<Case> cases = {{"WRONGX", 200}, {"", 302}};
    std::string current = tokenField, currentAnswer = *answer;
    for (const auto& c : cases) {
        const std::string typed = c.captcha.empty() ? currentAnswer : c.captcha;
        const Reply r = m_client->Send("POST", Url("/accounts/ServiceLoginAuth"), {},
                                       "GALX=" + m_client->Cookie("GALX") + form +
                                           "&logintoken=" + current + "&logincaptcha=" + typed);
        EXPECT_EQ(r.status, c.status) << typed;
        if (r.status == 200) {
            // A wrong answer says so and brings a new picture.
            EXPECT_NE(r.body.find("did not match the picture"), std::string::npos);
            const std::string next = Between(r.body, "name='logintoken' value='", "'");
            ASSERT_NE(next, token);
            currentAnswer = m_server->CaptchaAnswer(next).value_or("");
            char* e = curl_easy_escape(nullptr, next.c_str(), 0);
            current = e;
            curl_free(e);
        }
    }
    EXPECT_FALSE(m_client->Cookie("SID").empty());
    EXPECT_FALSE(m_server->CaptchaDue(kAlice));
}

// Regression: the sign-in and upload pages could be framed by any site.
TEST_F(SignInTest, NoHtmlPageCanBeFramedByAnotherSite) {
    m_client->Send("GET", Url("/accounts/ServiceLogin"));
    const std::string galx = m_client->Cookie("GALX");
    struct Case {
        std::string method, url, body;
    };
    const std::vector<Case> cases = {
        {"GET", Url("/accounts/ServiceLogin"), ""},
        {"POST", Url("/accounts/ServiceLoginAuth"),
         "GALX=" + galx + "&Email=alice%40example.test&Passwd=nope"},
        {"POST", Url("/accounts/ServiceLoginAuth"), "GALX=stale"},
        {"GET", Url("/accounts/NewAccount"), ""},
        {"GET", Url("/DocAction?action=updoc&hl=en"), ""},
        {"GET", PlainUrl("/accounts/Captcha?ctoken=gone"), ""},
    };
    for (const auto& c : cases) {
        const Reply r = m_client->Send(c.method, c.url, {}, c.body);
        ASSERT_EQ(r.Header("Content-Type").rfind("text/html", 0), 0u) << c.url;
        EXPECT_EQ(r.Header("X-Frame-Options"), "DENY") << c.url;
        EXPECT_NE(r.Header("Content-Security-Policy").find("frame-ancestors 'none'"),
                  std::string::npos)
            << c.url;
    }
}

}  // namespace
}  // namespace tallowdesk::server::test
