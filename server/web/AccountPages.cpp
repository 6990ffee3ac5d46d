#include "AccountPages.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <ctime>
#include <filesystem>
#include <iostream>

#include "Limits.h"
#include "Quota.h"
#include "Store.h"

namespace tallowdesk::server::web {

std::string AddressProblem(const std::string& email) {
    const auto at = email.find('@');
    if (email.empty()) return "Enter your e-mail address.";
    if (email.size() > 254 || at == std::string::npos || at == 0 ||
        email.find('@', at + 1) != std::string::npos) {
        return "That is not an e-mail address. Use the form name@example.com.";
    }
    for (std::size_t i = 0; i < at; ++i) {
        const unsigned char c = static_cast<unsigned char>(email[i]);
        if (!std::isalnum(c) &&
            std::string_view("._%+-").find(static_cast<char>(c)) == std::string_view::npos) {
            return "That is not an e-mail address. Use the form name@example.com.";
        }
    }
    const std::string domain = email.substr(at + 1);
    if (domain.empty() || domain.find('.') == std::string::npos || domain.front() == '.' ||
        domain.back() == '.' || domain.find("..") != std::string::npos) {
        return "That is not an e-mail address. Use the form name@example.com.";
    }
    for (unsigned char c : domain) {
        if (!std::isalnum(c) && c != '.' && c != '-') {
            return "That is not an e-mail address. Use the form name@example.com.";
        }
    }
    return {};
}

std::string OutboxPath(const std::string& dataDir, const std::string& email) {
    return (std::filesystem::path(dataDir) / "outbox" / (email + ".txt")).string();
}

std::string OutboxNoticePath(const std::string& dataDir, const std::string& email) {
    return (std::filesystem::path(dataDir) / "outbox" / (email + ".account-exists.txt")).string();
}

namespace {

// A message for the operator to pass on, written whole or not at all:
// private to the service's user, since a link in it is as good as the
// mailbox it proves.
bool WriteOutboxMessage(const std::string& path, const std::string& text) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path folder = fs::path(path).parent_path();
    fs::create_directories(folder, ec);
    fs::permissions(folder, fs::perms::owner_all, fs::perm_options::replace, ec);
    const std::string temp = path + ".tmp-" + std::to_string(::getpid());
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    const bool written =
        ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) &&
        ::fsync(fd) == 0;
    ::close(fd);
    if (!written || ::rename(temp.c_str(), path.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

std::string ProofMessage(const std::string& email, const std::string& link) {
    return "To: " + email +
           "\nSubject: Confirm your Tallowdesk address\n\n"
           "Open this link to confirm that " +
           email + " is yours (it works once, for " +
           std::to_string(kAddressProofLifetimeMs / (60 * 60 * 1000)) + " hours):\n\n" + link +
           "\n";
}

std::string NowUtc() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&now, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M UTC", &tm);
    return text;
}

std::string AccountExistsMessage(const std::string& email, const std::string& origin) {
    return "To: " + email +
           "\nSubject: Someone asked for a Tallowdesk account with your address\n\n"
           "On " +
           NowUtc() + " the account form of " + origin + " was sent for " + email +
           ", which already has an account. Nothing was changed: your password and your "
           "files are as they were, and no new account was made.\n\n"
           "If that was you, sign in as usual:\n\n" +
           origin +
           "/accounts/ServiceLogin?service=writely\n\n"
           "If you have forgotten your password, ask the person who runs the service to set "
           "a new one.\n";
}

}  // namespace

AccountPages::AccountPages(Store& store) : m_store(store) {}

HttpResponse AccountPages::NewAccountForm(const HttpRequest& request, const Visitor& visitor,
                                          int status, const std::string& email,
                                          const std::string& name, const std::string& error) {
    const auto query = ParseForm(request.method == "POST" ? request.body : request.Query());
    std::string body = "<h1>Create a Tallowdesk account</h1>";
    if (!m_openSignUp) {
        body +=
            "<p>This service does not take new accounts from its web page. Ask the person who "
            "runs it to create one for you with</p><pre>tallowdesk-server add-user "
            "you@example.com</pre>";
        return HtmlAnswer(status == 200 ? 403 : status,
                          Layout(request, visitor, "Create an account", body), visitor, request);
    }
    if (!error.empty()) body += "<p class='error' id='errormsg'>" + Escape(error) + "</p>";
    body += "<form class='card' method='post' action='/accounts/NewAccount'>" +
            FormTokenField(visitor) + "<input type='hidden' name='continue' value='" +
            Escape(SafeContinue(request, Field(query, "continue"), "/")) +
            "'><label>E-mail address <input type='email' name='Email' required "
            "autocomplete='username' value='" +
            Escape(email) +
            "'></label><label>Your name (optional) <input type='text' name='Name' "
            "autocomplete='name' value='" +
            Escape(name) + "'></label><label>Password (at least " +
            std::to_string(kMinPasswordLength) +
            " characters) <input type='password' name='Passwd' required "
            "autocomplete='new-password'></label><label>Password again <input type='password' "
            "name='PasswdAgain' required autocomplete='new-password'></label>"
            "<button type='submit'>Create account</button></form>"
            "<p>Already have an account? <a href='/accounts/ServiceLogin?service=writely'>Sign "
            "in</a>.</p>";
    return HtmlAnswer(status, Layout(request, visitor, "Create an account", body), visitor,
                      request);
}

HttpResponse AccountPages::NewAccount(const HttpRequest& request, const Visitor& visitor) {
    if (request.method == "GET" || request.method == "HEAD") {
        return NewAccountForm(request, visitor, 200, {}, {}, {});
    }
    if (request.method != "POST") return MethodNotAllowed("GET, HEAD, POST");
    const auto form = ParseForm(request.body);
    if (!FormIsGenuine(request, form)) {
        return NewAccountForm(request, visitor, 403, {}, {},
                              "This form has expired or came from another site. Please try "
                              "again.");
    }
    if (!m_openSignUp) return NewAccountForm(request, visitor, 403, {}, {}, {});
    const std::string email = NormalEmail(Field(form, "Email"));
    const std::string name = Field(form, "Name");
    const std::string password = Field(form, "Passwd");
    std::string error = AddressProblem(email);
    if (error.empty() && password.size() < kMinPasswordLength) {
        error = "Use a password of at least " + std::to_string(kMinPasswordLength) + " characters.";
    }
    if (error.empty() && password != Field(form, "PasswdAgain")) {
        error = "The two passwords differ. Type the same password twice.";
    }
    if (error.empty() && name.size() > 200) error = "Use a shorter name.";
    if (!error.empty()) return NewAccountForm(request, visitor, 400, email, name, error);

    // Taken or free, the visitor sees the same page, byte for byte (not even
    // the address is repeated), and the password is hashed either way: only
    // the mailbox's holder learns which it was.
    // A taken address keeps its owner, password and files untouched.
    const std::string dataDir = m_store.DataDir();
    if (m_store.CreateAccount(email, password,
                              name.empty() ? email.substr(0, email.find('@')) : name)) {
        const std::string link =
            request.Origin() + "/accounts/ConfirmAddress?token=" + m_store.IssueAddressProof(email);
        if (WriteOutboxMessage(OutboxPath(dataDir, email), ProofMessage(email, link))) {
            std::cerr << "tallowdesk-server: new account " << email
                      << " awaits its address proof: " << OutboxPath(dataDir, email) << std::endl;
        } else {
            std::cerr << "tallowdesk-server: new account " << email
                      << ": the confirmation link could not be written; confirm it with "
                         "tallowdesk-server confirm-user "
                      << email << std::endl;
        }
    } else {
        // Its own file: a confirmation link still waiting there stays.
        const std::string path = OutboxNoticePath(dataDir, email);
        if (WriteOutboxMessage(path, AccountExistsMessage(email, request.Origin()))) {
            std::cerr << "tallowdesk-server: the account form was sent for " << email
                      << ", which has an account; a notice for its owner: " << path << std::endl;
        } else {
            std::cerr << "tallowdesk-server: the account form was sent for " << email
                      << ", which has an account; the notice could not be written" << std::endl;
        }
    }
    const std::string signIn = "/accounts/ServiceLogin?service=writely&continue=" +
                               UrlEncode(SafeContinue(request, Field(form, "continue"), "/"));
    const std::string body =
        "<h1>Check your mail</h1><p id='sent'>A message to the address you gave is on its "
        "way; the person who runs this service passes it on. If the address is "
        "new here, the message holds a link that confirms it is yours; what was shared with "
        "the address opens once you have followed it. If it already has an account, the "
        "message says so and nothing was changed.</p><p>Then <a href='" +
        Escape(signIn) + "'>sign in</a> with the address and your password.</p>";
    return HtmlAnswer(200, Layout(request, visitor, "Check your mail", body), visitor, request);
}

HttpResponse AccountPages::ConfirmAddress(const HttpRequest& request, const Visitor& visitor) {
    if (request.method != "GET" && request.method != "HEAD") return MethodNotAllowed("GET, HEAD");
    const auto query = ParseForm(request.Query());
    const auto email = m_store.ProveAddress(Field(query, "token"));
    if (!email) {
        return HtmlAnswer(400,
                          Layout(request, visitor, "Confirm your address",
                                 "<h1>Confirm your address</h1><p class='error'>This link is "
                                 "wrong, used or expired. Ask the person who runs the service "
                                 "for a new one.</p>"),
                          visitor, request);
    }
    return HtmlAnswer(200,
                      Layout(request, visitor, "Confirm your address",
                             "<h1>Address confirmed</h1><p>" + Escape(*email) +
                                 " is confirmed: what was shared with this address is "
                                 "yours to open.</p><p><a "
                                 "href='/accounts/ServiceLogin?service=writely'>Sign "
                                 "in</a></p>"),
                      visitor, request);
}

HttpResponse AccountPages::Storage(const HttpRequest& request, const Visitor& visitor) {
    if (request.method != "GET" && request.method != "HEAD") return MethodNotAllowed("GET, HEAD");
    if (!visitor.email) return SignInRedirect(request);
    const std::int64_t used = m_store.UsageBytes(*visitor.email);
    const std::int64_t limit = QuotaBytes(m_store, *visitor.email);
    const long long percent =
        limit > 0
            ? static_cast<long long>(static_cast<double>(used) * 100.0 / static_cast<double>(limit))
            : 100;
    std::string body =
        "<h1>Storage</h1><p class='quota'>You are currently using " + Megabytes(used) +
        " MB of your " + Megabytes(limit) + " MB (" + std::to_string(percent) + "%).</p>" +
        "<meter min='0' max='" + std::to_string(limit) + "' value='" + std::to_string(used) + "'>" +
        std::to_string(percent) +
        "%</meter><h2>Getting more storage</h2><p>Your files are kept by the Tallowdesk "
        "service on this computer, and storage is not sold here. Everything you own counts with "
        "the size of its content, items in the trash included. Files that do not fit under the "
        "limit are refused when you upload them.</p><p>The person who runs the service raises "
        "your limit with</p><pre>tallowdesk-server set-quota " +
        Escape(*visitor.email) + " 30GB</pre><p>(sizes in bytes, or with KB, MB, GB or TB).</p>";
    return HtmlAnswer(200, Layout(request, visitor, "Storage", body), visitor, request);
}

HttpResponse AccountPages::SignOut(const HttpRequest& request, const Visitor& visitor) {
    if (request.method == "GET" || request.method == "HEAD") {
        const std::string body =
            visitor.email
                ? "<h1>Sign out</h1><form class='card' method='post' action='/accounts/Logout'>" +
                      FormTokenField(visitor) + "<p>Sign out " + Escape(*visitor.email) +
                      " in this browser?</p><button type='submit'>Sign out</button></form>"
                : std::string("<h1>Signed out</h1><p>You are not signed in.</p>");
        return HtmlAnswer(200, Layout(request, visitor, "Sign out", body), visitor, request);
    }
    if (request.method != "POST") return MethodNotAllowed("GET, HEAD, POST");
    const auto form = ParseForm(request.body);
    if (!FormIsGenuine(request, form)) {
        return HtmlAnswer(403,
                          Layout(request, visitor, "Sign out",
                                 "<h1>Sign out</h1><p class='error'>This form has expired or "
                                 "came from another site. Please try again.</p>"),
                          visitor, request);
    }
    const auto cookies = request.Cookies();
    if (const auto sid = cookies.find("SID"); sid != cookies.end()) {
        m_store.EndSession(sid->second);
    }
    HttpResponse r = Redirect("/");
    r.Set("Set-Cookie", CookieHeader(request, "SID", "", "Lax", true));
    r.Set("Set-Cookie", CookieHeader(request, "HSID", "", "Lax", true));
    return r;
}

}  // namespace tallowdesk::server::web
