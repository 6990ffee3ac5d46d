#include "SignInHandler.h"

#include <algorithm>

#include "CaptchaPicture.h"
#include "Crypto.h"
#include "Limits.h"
#include "SharedState.h"
#include "SourceKey.h"
#include "Store.h"
#include "web/WebCommon.h"

namespace tallowdesk::server {

namespace {

constexpr std::int64_t kChallengeLifetimeMs = 15 * 60 * 1000;
constexpr std::size_t kMaxPending = 10000;
// Kinds of items in the shared state.
constexpr const char* kChallenges = "captcha";
constexpr const char* kFormTokens = "sign-in-form";          // GALX values handed out
constexpr const char* kSourceFailures = "address-failures";  // failed sign-ins per source

HttpResponse PlainText(int status, std::string body) {
    HttpResponse r;
    r.status = status;
    r.Set("Content-Type", "text/plain");
    r.Set("Cache-control", "no-cache, no-store");
    r.Set("Pragma", "no-cache");
    r.body = std::move(body);
    return r;
}

HttpResponse LoginError(const std::string& code) {
    return PlainText(403, "Error=" + code + "\n");
}

HttpResponse Html(int status, const std::string& title, const std::string& body) {
    HttpResponse r;
    r.status = status;
    r.Set("Content-Type", "text/html; charset=UTF-8");
    r.Set("Cache-control", "no-cache, no-store");
    r.body =
        "<!DOCTYPE html><html><head><meta charset='utf-8'>"
        "<meta name='viewport' content='width=device-width, initial-scale=1'><title>" +
        XmlEscape(title) +
        "</title><link rel='stylesheet' href='/web/style.css'></head><body>"
        "<header><a class='brand' href='/'>Tallowdesk</a></header><main>" +
        body + "</main></body></html>";
    return r;
}

std::string CookieAttributes(const HttpRequest& request, const std::string& path) {
    return "; Path=" + path + (request.secure ? "; Secure" : "") + "; HttpOnly; SameSite=Lax";
}

// With a challenge token the form shows its picture and asks for the
// letters, so an account that needs a CAPTCHA can still sign in here.
std::string LoginForm(const std::string& galx, const std::string& cont, const std::string& message,
                      const std::string& email = {}, const std::string& challenge = {}) {
    std::string body = "<h1>Sign in</h1>";
    if (!message.empty()) body += "<p id='errormsg'>" + XmlEscape(message) + "</p>";
    body +=
        "<form id='gaia_loginform' method='post' action='/accounts/ServiceLoginAuth'>"
        "<input type='hidden' name='GALX' value='" +
        XmlEscape(galx) + "'><input type='hidden' name='continue' value='" + XmlEscape(cont) +
        "'><input type='hidden' name='service' value='writely'>"
        "<label>Email <input type='email' name='Email' value='" +
        XmlEscape(email) +
        "'></label>"
        "<label>Password <input type='password' name='Passwd'></label>";
    if (!challenge.empty()) {
        body +=
            "<img id='captcha' src='/accounts/Captcha?ctoken=" + XmlEscape(UrlEncode(challenge)) +
            "' alt='Security check' width='280' height='90'>"
            "<input type='hidden' name='logintoken' value='" +
            XmlEscape(challenge) +
            "'><label>Type the letters in the picture <input type='text' "
            "name='logincaptcha' autocomplete='off'></label>";
    }
    body +=
        "<input type='submit' name='signIn' value='Sign in'></form>"
        "<p>Don't have an account? <a href='/accounts/NewAccount'>Create one now</a></p>";
    return body;
}

std::string Field(const std::map<std::string, std::string>& form, const std::string& name) {
    const auto it = form.find(name);
    return it == form.end() ? std::string() : it->second;
}

}  // namespace

SignInHandler::SignInHandler(Store& store, SharedState& shared)
    : m_store(store), m_shared(shared) {}

bool SignInHandler::CaptchaDue(const std::string& email, const std::string& address) {
    const std::string source = SourceKey(address);
    if (m_store.CaptchaRequired(email) || m_guard.CaptchaDue(email, source)) return true;
    // The count per source is also kept in the shared state, so tries spread
    // over several service processes add up.
    const auto count = m_shared.Get(kSourceFailures, source);
    return count && std::stoll(*count) >= kMaxAddressFailures && !m_guard.Trusted(email, source);
}

void SignInHandler::RecordFailure(const std::string& email, const std::string& source) {
    m_guard.RecordFailure(email, source);
    m_shared.Increment(kSourceFailures, source, NowMillis() + kFailureWindowMs);
}

std::string SignInHandler::NewFormToken() {
    const std::string galx = RandomToken(11);
    m_shared.Put(kFormTokens, galx, "", NowMillis() + kChallengeLifetimeMs, {}, kMaxPending);
    return galx;
}

HttpResponse SignInHandler::ClientLogin(const HttpRequest& request) {
    if (request.method != "POST") {
        HttpResponse r = PlainText(405, "Error=BadRequest\nInfo=MethodNotAllowed\n");
        r.Set("Allow", "POST");
        return r;
    }
    if (!request.secure) return PlainText(403, "Error=Unknown\nInfo=HTTPSRequired\n");
    const auto form = ParseForm(request.body);
    const std::string email = NormalEmail(Field(form, "Email"));
    const std::string password = Field(form, "Passwd");
    const std::string service = Field(form, "service");
    const std::string accountType = Field(form, "accountType");
    if (!accountType.empty() && accountType != "HOSTED_OR_GOOGLE" && accountType != "GOOGLE" &&
        accountType != "HOSTED") {
        return LoginError("BadAuthentication");
    }
    if (email.empty() || password.empty() || service.empty()) {
        return LoginError("BadAuthentication");
    }
    // Unknown addresses go through the same steps (the same counts, the
    // same hashing time) as known ones, so no answer tells which exist.
    const std::string source = SourceKey(request.remoteAddress);
    bool solved = false;
    if (CaptchaDue(email, request.remoteAddress)) {
        const std::string token = Field(form, "logintoken");
        const std::string answer = Field(form, "logincaptcha");
        if (token.empty() || answer.empty() || !SolveChallenge(email, token, answer)) {
            return CaptchaChallenge(request, email, service);
        }
        solved = true;
    }
    // Too many attempts of this account waiting already: refused unchecked.
    const auto wait = m_guard.Reserve(email, solved);
    if (!wait) return CaptchaChallenge(request, email, service);
    HttpResponse answer;
    switch (m_store.CheckPassword(email, password)) {
        case PasswordCheck::NoAccount:
        case PasswordCheck::BadPassword:
            RecordFailure(email, source);
            answer = LoginError("BadAuthentication");
            answer.delayMs = *wait;
            return answer;
        case PasswordCheck::Disabled:
            answer = LoginError("AccountDisabled");
            answer.delayMs = *wait;
            return answer;
        case PasswordCheck::Ok:
            break;
    }
    m_guard.Clear(email, source);
    m_store.ClearFailures(email);
    // Told only to someone who knows the password.
    if (service != "writely" && service != "wise") return LoginError("ServiceDisabled");
    const std::string auth = m_store.IssueToken(email, service);
    return PlainText(
        200, "SID=" + RandomToken(120) + "\nLSID=" + RandomToken(120) + "\nAuth=" + auth + "\n");
}

HttpResponse SignInHandler::CaptchaChallenge(const HttpRequest& request, const std::string& email,
                                             const std::string& service) {
    const std::string token = NewChallenge(email);
    return PlainText(403, "Url=" + request.Origin() + "/accounts/ErrorMsg?Email=" +
                              UrlEncode(email) + "&service=" + UrlEncode(service) +
                              "&id=cr\nError=CaptchaRequired\nCaptchaToken=" + token +
                              "\nCaptchaUrl=Captcha?ctoken=" + UrlEncode(token) + "\n");
}

std::string SignInHandler::NewChallenge(const std::string& email) {
    // Letters that cannot be mistaken for one another in the picture.
    static constexpr char kLetters[] = "ACDEFHJKLMNPRTUVWXY";
    std::string answer;
    for (unsigned char b : RandomBytes(6)) answer += kLetters[b % (sizeof kLetters - 1)];
    const std::string token = RandomToken(48) + ":" + RandomToken(22);
    // The answer first: an address never holds a line break, so the value
    // splits at the first one.
    m_shared.Put(kChallenges, token, answer + "\n" + email, NowMillis() + kChallengeLifetimeMs, {},
                 kMaxPending);
    return token;
}

bool SignInHandler::SolveChallenge(const std::string& email, const std::string& token,
                                   const std::string& answer) {
    // A challenge is good for one attempt, right or wrong, through
    // whichever process the attempt arrives.
    const auto challenge = m_shared.Take(kChallenges, token);
    if (!challenge) return false;
    const auto cut = challenge->find('\n');
    return challenge->substr(cut + 1) == email &&
           EqualsIgnoreCase(challenge->substr(0, cut), answer);
}

std::optional<std::string> SignInHandler::CaptchaAnswer(const std::string& token) {
    auto challenge = m_shared.Get(kChallenges, token);
    if (!challenge) return std::nullopt;
    challenge->resize(std::min(challenge->size(), challenge->find('\n')));
    return challenge;
}

HttpResponse SignInHandler::CaptchaImage(const HttpRequest& request) {
    if (request.method != "GET") {
        HttpResponse r = Html(405, "Method not allowed", "<p>Method not allowed</p>");
        r.Set("Allow", "GET");
        return r;
    }
    const auto query = ParseForm(request.Query());
    const auto answer = CaptchaAnswer(Field(query, "ctoken"));
    if (!answer) return Html(404, "Not found", "<p>This picture has expired.</p>");
    HttpResponse r;
    r.Set("Content-Type", "image/png");
    r.Set("Cache-control", "no-cache, no-store");
    r.body = DrawCaptcha(*answer).image.Encode();
    return r;
}

std::optional<std::string> SignInHandler::CookieUser(const HttpRequest& request) {
    const auto cookies = request.Cookies();
    const auto sid = cookies.find("SID");
    const auto hsid = cookies.find("HSID");
    if (sid == cookies.end() || hsid == cookies.end()) return std::nullopt;
    return m_store.SessionOwner(sid->second, hsid->second);
}

HttpResponse SignInHandler::Home(const HttpRequest& request) {
    if (request.method != "GET" && request.method != "HEAD") {
        HttpResponse r = Html(405, "Method not allowed", "<p>Method not allowed</p>");
        r.Set("Allow", "GET, HEAD");
        return r;
    }
    if (const auto user = CookieUser(request)) {
        return Html(200, "Tallowdesk documents",
                    "<h1>Documents</h1><p>Signed in as " + XmlEscape(*user) + "</p>");
    }
    const std::string home = request.Origin() + "/";
    HttpResponse r = Html(302, "Moved", "<p>Sign in first.</p>");
    r.Set("Location", request.Origin() + "/accounts/ServiceLogin?service=writely&passive=true" +
                          "&continue=" + UrlEncode(home) + "&followup=" + UrlEncode(home));
    return r;
}

HttpResponse SignInHandler::ServiceLogin(const HttpRequest& request) {
    if (request.method != "GET") {
        HttpResponse r = Html(405, "Method not allowed", "<p>Method not allowed</p>");
        r.Set("Allow", "GET");
        return r;
    }
    const std::string galx = NewFormToken();
    const auto query = ParseForm(request.Query());
    const std::string cont =
        web::SafeContinue(request, Field(query, "continue"), request.Origin() + "/");
    HttpResponse r = Html(200, "Sign in", LoginForm(galx, cont, {}));
    r.Set("Set-Cookie", "GALX=" + galx + CookieAttributes(request, "/accounts"));
    return r;
}

HttpResponse SignInHandler::ServiceLoginAuth(const HttpRequest& request) {
    if (request.method != "POST") {
        HttpResponse r = Html(405, "Method not allowed", "<p>Method not allowed</p>");
        r.Set("Allow", "POST");
        return r;
    }
    // Browsers sign in by plain http on a loopback host only, where nothing
    // crosses a network (see server/README.md).
    if (!request.secure && !web::IsLoopbackHost(request.Header("Host").value_or(""))) {
        return Html(403, "Sign in", "<p>Sign-in needs a secure connection.</p>");
    }
    const auto form = ParseForm(request.body);
    const auto cookies = request.Cookies();
    const std::string galx = Field(form, "GALX");
    const auto cookie = cookies.find("GALX");
    bool known = false;
    // Each form is good for one try: a replayed or reused form is refused.
    if (!galx.empty()) known = m_shared.Take(kFormTokens, galx).has_value();
    // Only this service's own pages: anything else would make us an open
    // redirect, and a line break in it would add headers of the sender's choice.
    const std::string cont =
        web::SafeContinue(request, Field(form, "continue"), request.Origin() + "/");
    // A page of another site must not sign the browser in to an account of
    // its choosing.
    if (web::FromOtherSite(request)) {
        return Html(403, "Sign in", "<p id='errormsg'>This form came from another site.</p>");
    }
    if (galx.empty() || cookie == cookies.end() || cookie->second != galx || !known) {
        return Html(400, "Sign in",
                    "<p id='errormsg'>Your browser's cookie functionality is turned off or the "
                    "sign-in page has expired. Please reload it.</p>");
    }
    const std::string email = NormalEmail(Field(form, "Email"));
    const std::string password = Field(form, "Passwd");
    auto again = [&](const std::string& message, bool picture) {
        const std::string next = NewFormToken();
        HttpResponse r = Html(200, "Sign in",
                              LoginForm(next, cont, message, picture ? email : std::string(),
                                        picture ? NewChallenge(email) : std::string()));
        r.Set("Set-Cookie", "GALX=" + next + CookieAttributes(request, "/accounts"));
        return r;
    };
    // The same rules as ClientLogin: while a picture is due for this account
    // and source, it is solved before any password is checked.
    const std::string source = SourceKey(request.remoteAddress);
    bool solved = false;
    if (!email.empty() && CaptchaDue(email, request.remoteAddress)) {
        const std::string token = Field(form, "logintoken");
        const std::string answer = Field(form, "logincaptcha");
        if (token.empty() || answer.empty()) {
            return again("Type the letters in the picture to sign in.", true);
        }
        if (!SolveChallenge(email, token, answer)) {
            return again("The letters you typed did not match the picture. Try this one.", true);
        }
        solved = true;
    }
    const auto wait = m_guard.Reserve(email, solved);
    if (!wait) return again("Type the letters in the picture to sign in.", true);
    const auto check = email.empty() || password.empty() ? PasswordCheck::NoAccount
                                                         : m_store.CheckPassword(email, password);
    if (check == PasswordCheck::BadPassword || check == PasswordCheck::NoAccount) {
        if (!email.empty()) RecordFailure(email, source);
    }
    if (check != PasswordCheck::Ok) {
        HttpResponse r = again(check == PasswordCheck::Disabled
                                   ? "This account has been disabled."
                                   : "The username or password you entered is incorrect.",
                               false);
        r.delayMs = *wait;
        return r;
    }
    m_guard.Clear(email, source);
    m_store.ClearFailures(email);
    const auto session = m_store.CreateSession(email);
    HttpResponse r = Html(302, "Moved", "<p>Signed in.</p>");
    r.Set("Set-Cookie", "SID=" + session.sid + CookieAttributes(request, "/"));
    r.Set("Set-Cookie", "HSID=" + session.hsid + CookieAttributes(request, "/"));
    r.Set("Location", cont);
    return r;
}

}  // namespace tallowdesk::server
