#pragma once

#include <stdexcept>
#include <string>

namespace tallowdesk::test {

// The message a call fails with, or "no failure": lets a test compare the
// exact user-facing text in one expectation.
template <typename Call>
std::string Failure(Call call) {
    try {
        call();
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "no failure";
}

}  // namespace tallowdesk::test
