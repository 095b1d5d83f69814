#include "net/WSockbuf.h"

#include <gtest/gtest.h>

#include <string>

using namespace quelmark;

TEST(WSockbuf, WriteStopsAtTheBlockSizeAndAFullBlockTakesNothing)
{
    TBuffer block;
    const std::string bytes(2000, 'a');
    EXPECT_EQ(block.Write(bytes.data(), 1000), 1000);
    EXPECT_EQ(block.Write(bytes.data(), 1000), 514);
    EXPECT_EQ(block.Write(bytes.data(), 1), 0);
    EXPECT_EQ(block.Peek().count, TBuffer::kSize);
}

TEST(WSockbuf, PeekShowsOnlyTheUnsentBytesInOrder)
{
    TBuffer block;
    EXPECT_EQ(block.Peek().count, 0);
    block.Write("hello world", 11);
    EXPECT_EQ(block.Remove(6), 6);
    const TBuffer::Span unsent = block.Peek();
    EXPECT_EQ(std::string(unsent.start, static_cast<std::size_t>(unsent.count)), "world");
}

TEST(WSockbuf, RemovingTheLastUnsentByteRewindsTheBlockForReuse)
{
    TBuffer block;
    const std::string bytes(TBuffer::kSize, 'b');
    block.Write(bytes.data(), TBuffer::kSize);
    EXPECT_EQ(block.Remove(5000), TBuffer::kSize);
    EXPECT_EQ(block.WritePosition(), 0);
    EXPECT_EQ(block.ReadPosition(), 0);
    EXPECT_EQ(block.Remove(1), 0);
    EXPECT_EQ(block.Write("xyz", 3), 3);
    const TBuffer::Span unsent = block.Peek();
    EXPECT_EQ(std::string(unsent.start, 3), "xyz");
}
