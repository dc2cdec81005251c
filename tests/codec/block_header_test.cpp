#include "codec/ieee488_block.h"

#include <gtest/gtest.h>

using quarvel::visa::BlockHeader;
using quarvel::visa::BlockHeaderResult;
using quarvel::visa::FormatBlockHeader;
using quarvel::visa::ParseBlockHeader;

TEST(VisaBlockHeader, DefiniteAndIndefiniteHeaders) {
    BlockHeader h;
    ASSERT_EQ(ParseBlockHeader("#41234data", h), BlockHeaderResult::Ok);
    EXPECT_FALSE(h.indefinite);
    EXPECT_EQ(h.headerSize, 6u);
    EXPECT_EQ(h.dataLength, 1234u);

    ASSERT_EQ(ParseBlockHeader("#0abc", h), BlockHeaderResult::Ok);
    EXPECT_TRUE(h.indefinite);
    EXPECT_EQ(h.headerSize, 2u);

    ASSERT_EQ(ParseBlockHeader("#9999999999", h), BlockHeaderResult::Ok);
    EXPECT_EQ(h.dataLength, 999999999u);

    ASSERT_EQ(ParseBlockHeader(FormatBlockHeader(4000000), h), BlockHeaderResult::Ok);
    EXPECT_EQ(h.dataLength, 4000000u);
    EXPECT_EQ(FormatBlockHeader(4000000), "#74000000");
}

TEST(VisaBlockHeader, RejectsJunkAndWaitsForIncompleteHeaders) {
    BlockHeader h;
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
