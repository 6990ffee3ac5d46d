#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>

#include "IntegrationFixture.h"
#include "service/ServiceClient.h"
#include "service/ServiceExceptions.h"
#include "service/SignIn.h"

namespace tallowdesk::test {
namespace {

std::string Message(const std::function<void()>& f) {
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "(no error)";
}

std::string LineValue(const std::string& body, const std::string& key) {
    const auto at = body.find(key);
    if (at == std::string::npos) return {};
    const auto start = at + key.size();
    return body.substr(start, body.find('\n', start) - start);
}

using SignInIntegration = IntegrationTest;

TEST_F(SignInIntegration, BothServicesAndTheRequestOnTheWire) {
    ServiceClient client(kEmail, kPassword);
    ClientLogin(client, "writely");
    ClientLogin(client, "wise");
    ASSERT_TRUE(client.Credentials().writelyToken);
    ASSERT_TRUE(client.Credentials().wiseToken);
    EXPECT_NE(*client.Credentials().writelyToken, *client.Credentials().wiseToken);

    const auto requests = NewRequests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].target, "/accounts/ClientLogin");
    EXPECT_TRUE(requests[0].HasHeaderLine("GData-Version", "3.0"));
    EXPECT_EQ(requests[0].Header("User-Agent"), "");
    EXPECT_EQ(requests[0].body,
              "accountType=HOSTED_OR_GOOGLE&Email=alice%40example.test&Passwd=pa%26ss%3Dword"
              "&service=writely&source=Quarrymoss-Tallowdesk-1.0.0");
    EXPECT_NE(requests[1].body.find("&service=wise&"), std::string::npos);
}

TEST_F(SignInIntegration, ErrorsKeepTheClientAsItWas) {
    ServiceClient wrong(kEmail, "nope");
    EXPECT_EQ(Message([&] { ClientLogin(wrong, "writely"); }),
              "The login request used a username or password that is not recognized. ");
    EXPECT_FALSE(wrong.Credentials().writelyToken);

    ServiceClient unknown("nobody@example.test", "x");
    EXPECT_EQ(Message([&] { ClientLogin(unknown, "writely"); }),
              "The login request used a username or password that is not recognized. ");

    ServiceClient empty(kEmail, "");
    EXPECT_EQ(Message([&] { ClientLogin(empty, "writely"); }),
              "Login Email or Password cannot be empty!");

    m_server->SetAccountDisabled(kEmail, true);
    ServiceClient disabled(kEmail, kPassword);
    EXPECT_EQ(Message([&] { ClientLogin(disabled, "writely"); }),
              "The user account has been disabled.");
}

TEST_F(SignInIntegration, CaptchaRoundTrip) {
    m_server->SetCaptchaRequired(kEmail, true);
    ServiceClient client(kEmail, kPassword);
    std::string challenge;
    try {
        ClientLogin(client, "writely");
        FAIL() << "a CAPTCHA was expected";
    } catch (const CaptchaRequiredException& e) {
        challenge = e.what();
    }
    const std::string token = LineValue(challenge, "CaptchaToken=");
    const std::string url = LineValue(challenge, "CaptchaUrl=");
    ASSERT_FALSE(token.empty());
    ASSERT_FALSE(url.empty());

    // The picture comes over plain http, as the real service served it.
    const std::string picture = FetchCaptchaImage("http://" + Host() + "/accounts/" + url);
    EXPECT_GT(std::filesystem::file_size(picture), 100u);
    std::filesystem::remove(picture);

    EXPECT_THROW(ClientLogin(client, "writely", token, "wrong answer"), std::runtime_error);
    EXPECT_FALSE(client.Credentials().writelyToken);
    // A challenge may be single-use: ask for a fresh one when it is gone.
    std::string fresh = token;
    auto answer = m_server->CaptchaAnswer(fresh);
    if (!answer) {
        try {
            ClientLogin(client, "writely");
        } catch (const CaptchaRequiredException& e) {
            fresh = LineValue(e.what(), "CaptchaToken=");
        }
        answer = m_server->CaptchaAnswer(fresh);
    }
    ASSERT_TRUE(answer);
    ClientLogin(client, "writely", fresh, *answer);
    EXPECT_TRUE(client.Credentials().writelyToken);
}

TEST_F(SignInIntegration, CookieSignIn) {
    ServiceClient client(kEmail, kPassword);
    CookieSignIn(client);
    const auto requests = NewRequests();
    const LoggedRequest* form = nullptr;
    for (const auto& r : requests)
        if (r.target == "/accounts/ServiceLoginAuth") form = &r;
    ASSERT_NE(form, nullptr);
    EXPECT_EQ(form->method, "POST");
    EXPECT_EQ(form->body.rfind("GALX=", 0), 0u);
    EXPECT_NE(form->body.find("&continue=https://" + Host() + "/&followup=https://" + Host() +
                              "/&Email=alice%40example.test&Passwd=pa%26ss%3Dword&service=writely"),
              std::string::npos);
    EXPECT_NE(form->Header("Cookie").find("GALX="), std::string::npos);
    EXPECT_NE(form->Header("User-Agent").find("Chrome/6.0"), std::string::npos);
    // The redirect back to the document host carries the session cookies.
    EXPECT_NE(requests.back().Header("Cookie"), "");
}

}  // namespace
}  // namespace tallowdesk::test
