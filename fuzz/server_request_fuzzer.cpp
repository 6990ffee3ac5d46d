// Whole requests to the local document service: the HTTP head as the network
// layer parses it, then the handlers' reading of the body (Atom entries, ACL
// entries, the JSON upload session request, sign-in forms, multipart uploads).
// The request is signed in as one account so the fuzzer reaches past the
// authorisation checks.
#include <stdlib.h>

#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/string_body.hpp>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

#include "FuzzInput.h"
#include "HttpMessage.h"
#include "Router.h"
#include "SqliteSharedState.h"
#include "Store.h"
#include "UploadSink.h"

namespace {

namespace http = boost::beast::http;
using tallowdesk::server::HttpRequest;

constexpr const char* kEmail = "fuzz@example.test";

struct Service {
    std::string dir;
    std::unique_ptr<tallowdesk::server::Store> store;
    std::unique_ptr<tallowdesk::server::SqliteSharedState> shared;
    std::unique_ptr<tallowdesk::server::Router> router;
    std::string token;
    std::string cookies;

    Service() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "tallowdesk-fuzz-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) std::abort();
        dir = pattern;
        std::filesystem::create_directories(dir + "/content");
        store = std::make_unique<tallowdesk::server::Store>(dir, 1);
        store->AddAccount(kEmail, "password", "Fuzz");
        token = store->IssueToken(kEmail, "writely");
        const auto session = store->CreateSession(kEmail);
        cookies = "SID=" + session.sid + "; HSID=" + session.hsid;
        shared = std::make_unique<tallowdesk::server::SqliteSharedState>(dir + "/service.db");
        router = std::make_unique<tallowdesk::server::Router>(*store, *shared, 100, nullptr,
                                                              dir + "/content");
    }
    ~Service() {
        router.reset();
        shared.reset();
        store.reset();
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
};

Service& TheService() {
    static Service service;
    return service;
}

HttpRequest ToRequest(const http::request_header<>& in, const Service& service) {
    HttpRequest request;
    request.method = std::string(in.method_string());
    request.target = std::string(in.target());
    bool auth = false, cookie = false;
    for (const auto& field : in) {
        const std::string name(field.name_string());
        auth = auth || tallowdesk::server::EqualsIgnoreCase(name, "Authorization");
        cookie = cookie || tallowdesk::server::EqualsIgnoreCase(name, "Cookie");
        request.headers.emplace_back(name, std::string(field.value()));
    }
    if (!auth) request.headers.emplace_back("Authorization", "GoogleLogin auth=" + service.token);
    if (!cookie) request.headers.emplace_back("Cookie", service.cookies);
    request.secure = true;
    (void)request.Origin();
    (void)request.Query();
    (void)request.Cookies();
    return request;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Service& service = TheService();
    http::request_parser<http::string_body> parser;
    parser.header_limit(16 * 1024);
    parser.body_limit(1024 * 1024);
    parser.eager(true);
    boost::beast::error_code ec;
    parser.put(boost::asio::buffer(data, size), ec);
    if (!parser.is_header_done()) return 0;
    HttpRequest request = ToRequest(parser.get().base(), service);
    const std::string body = parser.get().body();

    try {
        if (auto plan = service.router->PlanUpload(request)) {
            if (plan->sink) {
                plan->sink->Put(body) && plan->sink->Finish();
                (void)service.router->FinishUpload(request, *plan->sink);
            }
            return 0;
        }
        request.body = body;
        (void)service.router->Handle(request);
    } catch (const std::exception&) {
        // The router turns handler failures into answers; a store failure
        // (e.g. the disk) may still throw.
    }
    return 0;
}
