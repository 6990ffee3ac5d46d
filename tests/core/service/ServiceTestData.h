#pragma once

#include "TestData.h"

namespace tallowdesk::test {

// Recorded ClientLogin answers kept next to these tests.
inline std::string ReadServiceSample(const std::string& name) {
    return ReadTestFile(name, SERVICE_TEST_DATA_DIR);
}

}  // namespace tallowdesk::test
