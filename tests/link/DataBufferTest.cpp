#include "link/DataBuffer.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

TEST(DataBuffer, ResultsAndOrder)
{
    CDataBuffer buffer;
    char line[CDataBuffer::SLOT_SIZE];
    EXPECT_EQ(buffer.Get(line), CDataBuffer::EMPTY);

    const std::string longest(255, 'x');
    const std::string tooLong(256, 'y');
    EXPECT_EQ(buffer.Put(tooLong.c_str()), CDataBuffer::TOO_LONG);
    EXPECT_EQ(buffer.Put(nullptr), CDataBuffer::TOO_LONG);
    EXPECT_EQ(buffer.Put(longest.c_str()), CDataBuffer::DONE);
    EXPECT_EQ(buffer.Put(""), CDataBuffer::DONE);
    EXPECT_EQ(buffer.GetCount(), 2);
    ASSERT_EQ(buffer.Get(line), CDataBuffer::DONE);
    EXPECT_EQ(longest, line);
    ASSERT_EQ(buffer.Get(line), CDataBuffer::DONE);
    EXPECT_STREQ(line, "");
    EXPECT_EQ(buffer.Get(line), CDataBuffer::EMPTY);
}

TEST(DataBuffer, FullAtTwoHundredFiftySixAcrossTheWrap)
{
    CDataBuffer buffer;
    char line[CDataBuffer::SLOT_SIZE];
    // Start the indices mid-way so the full queue wraps around the end of the slots.
    for (int i = 0; i < 200; ++i)
        ASSERT_EQ(buffer.Put("warm"), CDataBuffer::DONE);
    for (int i = 0; i < 200; ++i)
        ASSERT_EQ(buffer.Get(line), CDataBuffer::DONE);

    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(buffer.Put(std::to_string(i).c_str()), CDataBuffer::DONE) << i;
    EXPECT_EQ(buffer.Put("257th"), CDataBuffer::FULL);
    EXPECT_EQ(buffer.GetCount(), 256);
    for (int i = 0; i < 256; ++i) {
        ASSERT_EQ(buffer.Get(line), CDataBuffer::DONE);
        EXPECT_EQ(std::to_string(i), line);
    }
    EXPECT_EQ(buffer.Get(line), CDataBuffer::EMPTY);

    for (int i = 0; i < 10; ++i)
        buffer.Put("gone");
    buffer.Clear();
    EXPECT_EQ(buffer.GetCount(), 0);
    EXPECT_EQ(buffer.Get(line), CDataBuffer::EMPTY);
    EXPECT_EQ(buffer.Put("after"), CDataBuffer::DONE);
    ASSERT_EQ(buffer.Get(line), CDataBuffer::DONE);
    EXPECT_STREQ(line, "after");
}

TEST(DataBuffer, ProducerAndConsumerThreadsLoseNothing)
{
    CDataBuffer buffer;
    constexpr int lines = 50000;
    std::thread producer([&] {
        for (int i = 0; i < lines; ++i) {
            const std::string text = "line " + std::to_string(i);
            while (buffer.Put(text.c_str()) == CDataBuffer::FULL)
                std::this_thread::yield();
        }
    });
    char line[CDataBuffer::SLOT_SIZE];
    int next = 0;
    int misplaced = 0;
    while (next < lines) {
        if (buffer.Get(line) != CDataBuffer::DONE) {
            std::this_thread::yield();
            continue;
        }
        misplaced += "line " + std::to_string(next) != line;
        ++next;
    }
    producer.join();
    EXPECT_EQ(misplaced, 0);
    EXPECT_EQ(buffer.Get(line), CDataBuffer::EMPTY);
}
