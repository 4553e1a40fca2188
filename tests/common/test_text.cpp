#include <gtest/gtest.h>

#include "common/cp1252.h"
#include "common/text.h"

using namespace veldra;

TEST(Text, TrimRemovesControlsAndBlanks)
{
    EXPECT_EQ(trim(QStringLiteral("\r\n\t x y \x01")), QStringLiteral("x y"));
    EXPECT_EQ(trim(QStringLiteral("   ")), QString());
}

TEST(Cp1252, EveryByteSurvivesTheRoundTrip)
{
    QByteArray all;
    for (int b = 0; b < 256; ++b) all.append(char(b));
    EXPECT_EQ(cp1252::encode(cp1252::decode(all)), all);
}
