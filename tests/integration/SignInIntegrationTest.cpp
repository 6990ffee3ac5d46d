#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>

#include "Failure.h"
#include "IntegrationFixture.h"
#include "service/ServiceClient.h"
#include "service/ServiceExceptions.h"
#include "service/SignIn.h"

namespace tallowdesk::test {
namespace {

using test::Failure;

using SignInIntegration = IntegrationTest;

// The bytes of the request are pinned by the loopback test; here the real
// service must accept them (a password with "&" and "=" included).
TEST_F(SignInIntegration, BothServicesSignIn) {
    ServiceClient client(kEmail, kPassword);
    ClientLogin(client, "writely");
    ClientLogin(client, "wise");
    ASSERT_TRUE(client.Credentials().writelyToken);
    ASSERT_TRUE(client.Credentials().wiseToken);
    EXPECT_NE(*client.Credentials().writelyToken, *client.Credentials().wiseToken);
    EXPECT_EQ(NewRequests().size(), 2u);
}

// The service's refusal reaches the user as its message and signs nobody in.
TEST_F(SignInIntegration, AWrongPasswordKeepsTheClientAsItWas) {
    ServiceClient wrong(kEmail, "nope");
    EXPECT_EQ(Failure([&] { ClientLogin(wrong, "writely"); }),
              "The login request used a username or password that is not recognized. ");
    EXPECT_FALSE(wrong.Credentials().writelyToken);
}

// The challenge ClientLogin answers with; an empty one (and a failure) when
// it answers otherwise.
CaptchaChallenge ChallengeOf(ServiceClient& client, std::optional<std::string_view> token,
                             std::optional<std::string_view> answer) {
    try {
        ClientLogin(client, "writely", token, answer);
    } catch (const CaptchaRequiredException& e) {
        return ParseCaptchaChallenge(e.what()).value_or(CaptchaChallenge{});
    } catch (const std::exception& e) {
        ADD_FAILURE() << "a CAPTCHA was expected, not: " << e.what();
        return {};
    }
    ADD_FAILURE() << "a CAPTCHA was expected, not a sign-in";
    return {};
}

// A CAPTCHA token is good for one attempt, right or wrong: a token tried once
// (even with the right answer afterwards, even after a success) brings a new
// challenge. Guards against a service that lets a solved or guessed
// challenge be replayed.
TEST_F(SignInIntegration, CaptchaRoundTripWithSingleUseTokens) {
    m_server->SetCaptchaRequired(kEmail, true);
    ServiceClient client(kEmail, kPassword);
    const CaptchaChallenge first = ChallengeOf(client, std::nullopt, std::nullopt);
    ASSERT_FALSE(first.token.empty());
    EXPECT_EQ(first.picturePath.rfind("Captcha?ctoken=", 0), 0u) << first.picturePath;

    // The picture comes over plain http, as the real service served it.
    const std::string picture =
        FetchCaptchaImage("http://" + Host() + "/accounts/" + first.picturePath);
    EXPECT_GT(std::filesystem::file_size(picture), 100u);
    RemoveCaptchaImage(picture);

    const std::optional<std::string> rightAnswer = m_server->CaptchaAnswer(first.token);
    ASSERT_TRUE(rightAnswer);
    const CaptchaChallenge second = ChallengeOf(client, first.token, "wrong answer");
    EXPECT_FALSE(second.token.empty());
    EXPECT_NE(second.token, first.token);
    const CaptchaChallenge replay = ChallengeOf(client, first.token, *rightAnswer);
    EXPECT_FALSE(replay.token.empty()) << "a spent token was accepted";
    EXPECT_FALSE(client.Credentials().writelyToken);

    const std::optional<std::string> answer = m_server->CaptchaAnswer(replay.token);
    ASSERT_TRUE(answer);
    ClientLogin(client, "writely", replay.token, *answer);
    EXPECT_TRUE(client.Credentials().writelyToken);

    m_server->SetCaptchaRequired(kEmail, true);  // the success lifted it
    ServiceClient again(kEmail, kPassword);
    EXPECT_FALSE(ChallengeOf(again, replay.token, *answer).token.empty())
        << "a solved token was accepted twice";
    EXPECT_FALSE(again.Credentials().writelyToken);
}

}  // namespace
}  // namespace tallowdesk::test
