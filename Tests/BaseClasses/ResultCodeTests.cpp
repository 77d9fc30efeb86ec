#include <gtest/gtest.h>

#include "HresultTable.h"

// Our replacement layer returns the Windows SDK's codes, value for value.
TEST(ResultCodeTest, ReplacementCodesAreThePlatforms)
{
    for (const SktsTest::NamedResult& code : SktsTest::kResultCodes)
        EXPECT_EQ(static_cast<uint32_t>(code.ours), code.platform) << code.name;
}
