#include "codec/ieee488_block.h"

#include <gtest/gtest.h>

using quarvel::visa::BlockHeader;
using quarvel::visa::BlockHeaderResult;
using quarvel::visa::ParseBlockHeader;

// Everyday headers ("#0" too) go through every block the VISA and CLI tests
// read, and the simulator writes its own with FormatBlockHeader; here the
// edges.
TEST(VisaBlockHeader, TakesNineDigitsRejectsJunkAndWaitsForIncompleteHeaders) {
    BlockHeader h;
    ASSERT_EQ(ParseBlockHeader("#9999999999", h), BlockHeaderResult::Ok);
    EXPECT_EQ(h.dataLength, 999999999u);
    EXPECT_EQ(h.headerSize, 11u);

    EXPECT_EQ(ParseBlockHeader(" #14abcd", h), BlockHeaderResult::Invalid);
    EXPECT_EQ(ParseBlockHeader("#A", h), BlockHeaderResult::Invalid);
    EXPECT_EQ(ParseBlockHeader("#31x0", h), BlockHeaderResult::Invalid);
    EXPECT_EQ(ParseBlockHeader("#3-10", h), BlockHeaderResult::Invalid);
    // A bad digit is seen even before the header is complete.
    EXPECT_EQ(ParseBlockHeader("#5 ", h), BlockHeaderResult::Invalid);

    EXPECT_EQ(ParseBlockHeader("", h), BlockHeaderResult::NeedMore);
    EXPECT_EQ(ParseBlockHeader("#", h), BlockHeaderResult::NeedMore);
    EXPECT_EQ(ParseBlockHeader("#41", h), BlockHeaderResult::NeedMore);

    // A length the caller cannot accept is refused, not trusted.
    EXPECT_EQ(ParseBlockHeader("#41234", h, 1000), BlockHeaderResult::Invalid);
    EXPECT_EQ(ParseBlockHeader("#41000", h, 1000), BlockHeaderResult::Ok);
}
