// The tests' byte buffer: its blocks read as one stream, and the index error past either end.
#include "ByteBuffer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using giftest::TByteBuffer;
using testing::StrEq;
using testing::ThrowsMessage;

TEST(ByteBuffer, ReadsAllBlocksAsOneStreamAndFailsPastTheEnd)
{
    TByteBuffer buffer;
    EXPECT_THAT([&] { buffer.Rewind(); },
                ThrowsMessage<EStringListError>(StrEq("Der Index der Liste überschreitet das Maximum (0)")));
    buffer.AddBlock(std::string("\x01\x02", 2));
    buffer.AddBlock(std::string("\xFF", 1));
    EXPECT_EQ(buffer.TotalSize, 3);
    buffer.Rewind();
    EXPECT_EQ(buffer.NextByte(), 1);
    EXPECT_EQ(buffer.NextByte(), 2);
    EXPECT_EQ(buffer.NextByte(), 0xFF);
    EXPECT_THAT([&] { buffer.NextByte(); },
                ThrowsMessage<EStringListError>(StrEq("Der Index der Liste überschreitet das Maximum (2)")));
    EXPECT_EQ(buffer.GetBlock(1), std::string("\x01\x02", 2));
    EXPECT_THAT([&] { buffer.GetBlock(0); },
                ThrowsMessage<EStringListError>(StrEq("Der Index der Liste überschreitet das Maximum (-1)")));
    buffer.Rewind(); // restarts at the first byte
    EXPECT_EQ(buffer.NextByte(), 1);
}
