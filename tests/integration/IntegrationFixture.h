#pragma once

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "Server.h"

namespace tallowdesk::test {

// One request as the server's request log recorded it.
struct LoggedRequest {
    std::string method;
    std::string target;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;

    std::string Header(const std::string& name) const;  // first of that name, any case
    bool HasHeaderLine(const std::string& name, const std::string& value) const;
};

// A real local document service on a free loopback port with a fresh data
// folder and request log, the client's hosts pointed at it and its
// certificate trusted. Account alice@example.test, password "pa&ss=word".
class IntegrationTest : public ::testing::Test {
protected:
    static constexpr const char* kEmail = "alice@example.test";
    static constexpr const char* kPassword = "pa&ss=word";

    void SetUp() override;
    void TearDown() override;

    std::vector<LoggedRequest> Requests() const;
    // Requests logged since the last call.
    std::vector<LoggedRequest> NewRequests();
    std::string Host() const;

    std::filesystem::path m_dir;
    std::unique_ptr<server::Server> m_server;
    unsigned short m_port = 0;

private:
    std::size_t m_seen = 0;
};

}  // namespace tallowdesk::test
