#include "link/DataBuffer.h"

#include <gtest/gtest.h>

#include <string>

TEST(DataBuffer, ResultsOrderAndFullAcrossTheWrap)
{
    CDataBuffer buffer;
    char line[CDataBuffer::SLOT_SIZE];
    EXPECT_EQ(buffer.Get(line), CDataBuffer::EMPTY);
    EXPECT_EQ(buffer.Put(std::string(256, 'y').c_str()), CDataBuffer::TOO_LONG);
    EXPECT_EQ(buffer.Put(nullptr), CDataBuffer::TOO_LONG);
    EXPECT_EQ(buffer.Put(""), CDataBuffer::DONE);
    ASSERT_EQ(buffer.Get(line), CDataBuffer::DONE);
    EXPECT_STREQ(line, "");

    // Start the indices mid-way so the full queue wraps around the end of the slots.
    for (int i = 0; i < 200; ++i)
        buffer.Put("warm");
    for (int i = 0; i < 200; ++i)
        buffer.Get(line);
    const std::string longest(255, 'x');
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(buffer.Put(i == 255 ? longest.c_str() : std::to_string(i).c_str()), CDataBuffer::DONE) << i;
    EXPECT_EQ(buffer.Put("257th"), CDataBuffer::FULL);
    EXPECT_EQ(buffer.GetCount(), 256);
    for (int i = 0; i < 256; ++i) {
        ASSERT_EQ(buffer.Get(line), CDataBuffer::DONE);
        EXPECT_EQ(i == 255 ? longest : std::to_string(i), line);
    }
    EXPECT_EQ(buffer.Get(line), CDataBuffer::EMPTY);

    for (int i = 0; i < 10; ++i)
        buffer.Put("gone");
    buffer.Clear();
    EXPECT_EQ(buffer.Get(line), CDataBuffer::EMPTY);
    EXPECT_EQ(buffer.Put("after"), CDataBuffer::DONE);
    ASSERT_EQ(buffer.Get(line), CDataBuffer::DONE);
    EXPECT_STREQ(line, "after");
}
