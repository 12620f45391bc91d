#include "KCDNSServiceError.h"

#include <gtest/gtest.h>

TEST(KCDNSServiceError, NamesTheCodesClientsAndTheServiceKnow)
{
    const struct {
        int32_t code;
        const char *name;
    } cases[] = {
        {0, "NoError"},
        {-65537, "Unknown"},
        {-65547, "Already registered"},
        {-65549, "Invalid"},
        {-65558, "Double NAT"},
        {-65564, "NAT port mapping unsupported"},
        {-65566, "No router"},
        {-65567, "Polling Mode"},
        {-65568, "Timeout"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(KCDNSServiceError::name(c.code), QString::fromLatin1(c.name)) << c.code;
}

TEST(KCDNSServiceError, CodesOutsideTheTableHaveNoName)
{
    for (int32_t code : {12345, -65546, -65569, 1})
        EXPECT_TRUE(KCDNSServiceError::name(code).isEmpty()) << code;
}
