#include <gtest/gtest.h>

#include "ServiceTestData.h"
#include "service/ServiceExceptions.h"
#include "service/SignIn.h"

namespace tallowdesk {
namespace {

using test::ReadServiceSample;

// The message of what InterpretClientLoginResponse throws, prefixed by its kind.
std::string LoginOutcome(long status, const std::string& body) {
    try {
        return "token:" + InterpretClientLoginResponse(status, body);
    } catch (const CaptchaRequiredException& e) {
        return std::string("captcha:") + e.what();
    } catch (const std::runtime_error& e) {
        return std::string("error:") + e.what();
    }
}

TEST(ClientLoginBody, EncodesEveryValueAndAddsCaptchaOnlyWithBothParts) {
    EXPECT_EQ(
        BuildClientLoginBody("a.b@example.com", "p&w=d 1%", "writely", std::nullopt, std::nullopt),
        "accountType=HOSTED_OR_GOOGLE&Email=a.b%40example.com&Passwd=p%26w%3Dd%201%25"
        "&service=writely&source=Quarrymoss-Tallowdesk-1.0.0");
    // A token without an answer is not a CAPTCHA reply.
    const std::string tokenOnly = BuildClientLoginBody("e", "p", "wise", "tok", std::nullopt);
    EXPECT_EQ(tokenOnly.find("&logintoken="), std::string::npos);
    EXPECT_EQ(tokenOnly.find("&logincaptcha="), std::string::npos);
    EXPECT_EQ(BuildClientLoginBody("e", "p", "wise", "a:b/c", "x y"),
              "accountType=HOSTED_OR_GOOGLE&Email=e&Passwd=p&service=wise"
              "&source=Quarrymoss-Tallowdesk-1.0.0&logintoken=a%3Ab%2Fc&logincaptcha=x%20y");
}

TEST(ClientLoginBody, PercentEncodesUtf8BytesAndKeepsUnreserved) {
    EXPECT_EQ(PercentEncode("Az09-._~"), "Az09-._~");
    EXPECT_EQ(PercentEncode("\xC3\xA9+\n"), "%C3%A9%2B%0A");
    EXPECT_EQ(PercentEncode(""), "");
}

TEST(ClientLoginResponse, SuccessTakesAuthLineWithoutLineFeed) {
    EXPECT_EQ(LoginOutcome(200, ReadServiceSample("clientlogin-success.txt")),
              "token:TOKEN-REDACTED");
    EXPECT_EQ(LoginOutcome(200, "SID=s\nLSID=l\nAuth=abc"), "token:abc");
    EXPECT_EQ(LoginOutcome(200, "Auth=abc\r\n"), "token:abc");
    EXPECT_EQ(LoginOutcome(200, ""), "error:Login failed for unknown error.");
    EXPECT_EQ(LoginOutcome(200, "SID=s\nLSID=l\n"), "error:Login failed for unknown error.");
    EXPECT_EQ(LoginOutcome(200, "Auth=\n"), "error:Login failed for unknown error.");
}

TEST(ClientLoginResponse, ErrorsMapToMessagesInTableOrder) {
    EXPECT_EQ(LoginOutcome(403, ReadServiceSample("clientlogin-badauthentication.txt")),
              "error:The login request used a username or password that is not recognized. ");
    const std::string captcha = ReadServiceSample("clientlogin-captcha.txt");
    EXPECT_EQ(LoginOutcome(403, captcha), "captcha:" + captcha);
    // CAPTCHA wins over any code, wherever it appears.
    EXPECT_EQ(LoginOutcome(403, "Error=BadAuthentication\nInfo=CaptchaRequired\n"),
              "captcha:Error=BadAuthentication\nInfo=CaptchaRequired\n");
    // Earlier rows win, whatever the order in the body.
    EXPECT_EQ(LoginOutcome(403, "Error=AccountDeleted\nX=Unknown\n"),
              "error:The error is unknown or unspecified");
    EXPECT_EQ(LoginOutcome(403, "Error=ServiceUnavailable NotVerified"),
              "error:The account email address has not been verified.");
    EXPECT_EQ(LoginOutcome(403, "Error=TermsNotAgreed"), "error:The user has not agreed to terms.");
    EXPECT_EQ(LoginOutcome(403, "Error=AccountDisabled"),
              "error:The user account has been disabled.");
    EXPECT_EQ(LoginOutcome(403, "Error=ServiceDisabled"),
              "error:The user's access to the specified service has been disabled.");
    EXPECT_EQ(LoginOutcome(503, "Error=ServiceUnavailable"),
              "error:The service is not available; try again later");
    EXPECT_EQ(LoginOutcome(403, "Error=Strange"), "error:Login failed for unknown error.");
    EXPECT_EQ(LoginOutcome(500, ""), "error:Login failed for unknown error.");
    // A 200 answer is a success even if it mentions a code.
    EXPECT_EQ(LoginOutcome(200, "Auth=x\nError=BadAuthentication"), "token:x");
}

TEST(CookieSignIn, FindsGalxInCookieListAndBuildsForm) {
    const std::vector<std::string> cookies = {
        "#HttpOnly_127.0.0.1\tFALSE\t/\tFALSE\t0\tNID\tx\ty",
        "127.0.0.1\tFALSE\t/accounts\tTRUE\t0\tGALXY\twrong",
        "127.0.0.1\tFALSE\t/\tTRUE\t0\tGALX\tg-1/2",
    };
    EXPECT_EQ(FindCookieValue(cookies, "GALX"), "g-1/2");
    EXPECT_EQ(FindCookieValue({"h\tFALSE\t/\tFALSE\t0\tGALX"}, "GALX"), "");
    EXPECT_EQ(FindCookieValue(cookies, "SID"), std::nullopt);
    EXPECT_EQ(FindCookieValue({}, "GALX"), std::nullopt);

    EXPECT_EQ(BuildCookieSignInBody("g-1/2", "docs.test:8443", "me@x.org", "a&b=c"),
              "GALX=g-1%2F2&continue=https://docs.test:8443/&followup=https://docs.test:8443/"
              "&Email=me%40x.org&Passwd=a%26b%3Dc&service=writely");
}

}  // namespace
}  // namespace tallowdesk
