#pragma once

#include <tinyxml2.h>

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#ifndef TALLOWDESK_TEST_DATA_DIR
#error "TALLOWDESK_TEST_DATA_DIR must name tests/data"
#endif

namespace tallowdesk::test {

// A recorded answer or sample file, from tests/data unless told otherwise.
inline std::string ReadTestFile(const std::string& name,
                                const std::string& dir = TALLOWDESK_TEST_DATA_DIR) {
    std::ifstream in(dir + "/" + name, std::ios::binary);
    if (!in) throw std::runtime_error("missing test data: " + name);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void ParseXml(tinyxml2::XMLDocument& doc, const std::string& text) {
    if (doc.Parse(text.c_str(), text.size()) != tinyxml2::XML_SUCCESS)
        throw std::runtime_error("test XML does not parse");
}

}  // namespace tallowdesk::test
