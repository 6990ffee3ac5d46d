#include <QtTest>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "SignInFlow.h"
#include "service/ServiceClient.h"
#include "service/ServiceExceptions.h"

using namespace tallowdesk;
using namespace tallowdesk::shell;

namespace {

// Stands in for the sign-in dialog.
class FakeDialog : public QObject, public SignInMessages {
public:
    bool finished = false;
    bool enabled = false;
    std::string status;
    SignInInput input{"ann@example.com", "secret", true};
    std::optional<std::string> captchaAnswer = std::string("answer");
    std::string shownPicture;
    bool pictureExistedWhenShown = false;

    void LoginFinished() override { finished = true; }
    void SetStatusText(const std::string& text) override { status = text; }
    void EnableButtons() override { enabled = true; }
    SignInInput ReadInput() override { return input; }
    std::optional<std::string> AskCaptcha(const std::string& path) override {
        shownPicture = path;
        pictureExistedWhenShown = std::filesystem::exists(path);
        return captchaAnswer;
    }
};

struct Call {
    std::string service;
    std::optional<std::string> token;
    std::optional<std::string> answer;
};

// Scripted sign-in service: each ClientLogin call takes the next outcome.
struct Script {
    std::vector<std::function<void()>> outcomes;
    std::vector<Call> calls;
    std::vector<std::string> captchaUrls;
    std::vector<SignInInput> remembered;
    std::atomic<int> warnings{0};
    std::string picture;

    SignInServices Services() {
        SignInServices s;
        s.clientLogin = [this](ServiceClient&, std::string_view service,
                               std::optional<std::string_view> token,
                               std::optional<std::string_view> answer) {
            calls.push_back(
                {std::string(service),
                 token ? std::optional<std::string>(std::string(*token)) : std::nullopt,
                 answer ? std::optional<std::string>(std::string(*answer)) : std::nullopt});
            const std::size_t i = calls.size() - 1;
            if (i < outcomes.size() && outcomes[i]) outcomes[i]();
        };
        s.fetchCaptchaImage = [this](const std::string& url) {
            captchaUrls.push_back(url);
            std::ofstream(picture) << "jpeg";
            return picture;
        };
        s.cookieSignIn = [](ServiceClient&) { throw std::runtime_error("no cookies"); };
        s.rememberUser = [this](const SignInInput& in) { remembered.push_back(in); };
        s.warnCookieFailure = [this] { ++warnings; };
        s.accountsHost = "accounts.test";
        return s;
    }
};

const char* kCaptchaBody =
    "Url=https://www.google.com/login/captcha\nError=CaptchaRequired\n"
    "CaptchaToken=tok-123\nCaptchaUrl=Captcha?ctoken=abc\n";

void Captcha() {
    throw CaptchaRequiredException(kCaptchaBody);
}

void RunOnWorker(FakeDialog& dialog, Script& script) {
    ServiceClient client(std::string("ann@example.com"), std::string("secret"));
    std::atomic<bool> done{false};
    SignInServices services = script.Services();
    std::thread t([&] {
        RunSignIn(SignInPort(&dialog), client, services);
        done = true;
    });
    QTRY_VERIFY_WITH_TIMEOUT(done.load(), 10000);
    t.join();
    QCoreApplication::processEvents();  // the posted "Login Finished"
}

}  // namespace

// The sign-in sequence: both services, the CAPTCHA round trip, what is
// remembered and what the dialog is told.
class SignInFlowTest : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    std::string Picture() const {
        return m_dir.filePath(QStringLiteral("Captcha.jpg")).toStdString();
    }

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void signsInToBothServicesThenRemembers() {
        FakeDialog dialog;
        Script script;
        RunOnWorker(dialog, script);
        QCOMPARE(script.calls.size(), std::size_t(2));
        QCOMPARE(script.calls[0].service, std::string("writely"));
        QCOMPARE(script.calls[1].service, std::string("wise"));
        QVERIFY(!script.calls[0].token);
        QCOMPARE(script.remembered.size(), std::size_t(1));
        QCOMPARE(script.remembered[0].email, std::string("ann@example.com"));
        QVERIFY(dialog.finished);
        QVERIFY(!dialog.enabled);
    }

    void aFailingSecondServiceLeavesTheDialogOpen() {
        FakeDialog dialog;
        Script script;
        script.outcomes = {
            nullptr, [] { throw std::runtime_error("Error: Cannot connect to Google Docs."); }};
        RunOnWorker(dialog, script);
        QCOMPARE(dialog.status, std::string("Error: Cannot connect to Google Docs."));
        QVERIFY(dialog.enabled);
        QVERIFY(!dialog.finished);
        QVERIFY(script.remembered.empty());
    }

    void anUnknownFailureSaysLoginFailed() {
        FakeDialog dialog;
        Script script;
        script.outcomes = {[] { throw 42; }};
        RunOnWorker(dialog, script);
        QCOMPARE(dialog.status, std::string(" Login failed! "));
        QVERIFY(dialog.enabled);
        QCOMPARE(script.calls.size(), std::size_t(1));
    }

    void aCaptchaIsAnsweredWithinTheAttempt() {
        FakeDialog dialog;
        Script script;
        script.picture = Picture();
        script.outcomes = {Captcha};
        RunOnWorker(dialog, script);
        QCOMPARE(script.captchaUrls,
                 std::vector<std::string>{"http://accounts.test/accounts/Captcha?ctoken=abc"});
        QVERIFY(dialog.pictureExistedWhenShown);
        QVERIFY(!std::filesystem::exists(script.picture));  // deleted afterwards
        QCOMPARE(script.calls.size(), std::size_t(3));
        QCOMPARE(script.calls[1].service, std::string("writely"));
        QCOMPARE(script.calls[1].token, std::optional<std::string>("tok-123"));
        QCOMPARE(script.calls[1].answer, std::optional<std::string>("answer"));
        QCOMPARE(script.calls[2].service, std::string("wise"));
        QVERIFY(dialog.finished);
    }

    void aWrongCaptchaAnswerFails() {
        FakeDialog dialog;
        Script script;
        script.picture = Picture();
        script.outcomes = {Captcha, Captcha};
        RunOnWorker(dialog, script);
        QCOMPARE(dialog.status, std::string(" Login failed! "));
        QVERIFY(dialog.enabled);
        QCOMPARE(script.calls.size(), std::size_t(2));  // no third try
        QVERIFY(!std::filesystem::exists(script.picture));
    }

    void closingTheCaptchaLeavesTheStatusAlone() {
        FakeDialog dialog;
        dialog.status = "                    Logging in...   ";
        dialog.captchaAnswer = std::nullopt;
        Script script;
        script.picture = Picture();
        script.outcomes = {Captcha};
        RunOnWorker(dialog, script);
        QCOMPARE(dialog.status, std::string("                    Logging in...   "));
        QVERIFY(dialog.enabled);
        QVERIFY(!std::filesystem::exists(script.picture));
    }

    void aBrokenChallengeFailsWithoutAPicture() {
        FakeDialog dialog;
        Script script;
        script.outcomes = {[] { throw CaptchaRequiredException("Error=CaptchaRequired\n"); }};
        RunOnWorker(dialog, script);
        QVERIFY(script.captchaUrls.empty());
        QCOMPARE(dialog.status, std::string(" Login failed! "));
        QVERIFY(dialog.enabled);
    }

    void challengeValuesEndAtTheLineFeed() {
        const auto c = ParseCaptchaChallenge("CaptchaToken=a b\r\nCaptchaUrl=pic?x=1");
        QVERIFY(c.has_value());
        QCOMPARE(c->token, std::string("a b"));
        QCOMPARE(c->picturePath, std::string("pic?x=1"));  // no line feed: to the end
        QVERIFY(!ParseCaptchaChallenge("CaptchaUrl=x\n"));
    }

    void aFailingCookieSignInOnlyWarns() {
        Script script;
        ServiceClient client(std::string("a"), std::string("b"));
        RunCookieSignIn(client, script.Services());
        QCOMPARE(script.warnings.load(), 1);
    }
};

QTEST_GUILESS_MAIN(SignInFlowTest)
#include "SignInFlowTest.moc"
