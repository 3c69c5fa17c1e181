#pragma once

// On Windows, and under Wine, a conformance test runs against the system itself.

#include <gtest/gtest.h>

namespace OrvaneClient::Testing {

using ConformanceTest = ::testing::Test;

}  // namespace OrvaneClient::Testing
