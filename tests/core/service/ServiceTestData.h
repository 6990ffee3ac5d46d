#pragma once

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

namespace tallowdesk::test {

// Recorded ClientLogin answers kept next to these tests.
inline std::string ReadServiceSample(const std::string& name) {
    std::ifstream in(std::string(SERVICE_TEST_DATA_DIR) + "/" + name, std::ios::binary);
    if (!in) throw std::runtime_error("missing test data: " + name);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace tallowdesk::test
