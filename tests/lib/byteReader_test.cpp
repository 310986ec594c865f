// The bounds-checked little-endian reader every binary file reader uses.
#include "lib/byteReader.h"
#include "testUtil.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string bytesOf(std::initializer_list<unsigned> values) {
    std::string s;
    for (unsigned v : values) s.push_back(static_cast<char>(v));
    return s;
}

}  // namespace

TEST(ByteReader, ReadsLittleEndianFieldsInOrder) {
    const std::string bytes = bytesOf({0x01, 0x02, 0x03, 0x04, 0xff, 0xff, 0xff, 0xff, 0x00, 0x00, 0x80, 0x3f,
                                       0x10, 0x32, 0x54, 0x76, 0x98, 0xba, 0xdc, 0xfe, 'a', 'b'});
    byteReaderClass in(bytes, [](size_t, size_t) { FAIL() << "no read runs short"; });
    EXPECT_EQ(in.u32(), 0x04030201u);
    EXPECT_EQ(in.i32(), -1);
    EXPECT_EQ(in.f32(), 1.0f);
    EXPECT_EQ(in.u64(), 0xfedcba9876543210ull);
    EXPECT_EQ(in.left(), 2u);
    EXPECT_EQ(in.take(2), "ab");
    EXPECT_EQ(in.left(), 0u);
}

TEST(ByteReader, ShortReadsGoToTheHandlerAndNeverPastTheEnd) {
    const std::string bytes = bytesOf({1, 2, 3, 4, 5, 6});
    size_t wanted = 0, left = 0;
    auto handler = [&](size_t w, size_t l) {
        wanted = w;
        left = l;
        reportError("Error: short");
    };
    // Six bytes: one 32-bit field, then a second one runs short with 2 left.
    byteReaderClass in(bytes, handler);
    in.u32();
    EXPECT_EQ(errorOf([&] { in.u32(); }), "Error: short");
    EXPECT_EQ(wanted, 4u);
    EXPECT_EQ(left, 2u);
    // A 64-bit field is checked whole, not half read.
    byteReaderClass wide(bytes, handler);
    EXPECT_EQ(errorOf([&] { wide.u64(); }), "Error: short");
    EXPECT_EQ(wanted, 8u);
    EXPECT_EQ(wide.position(), 0u);
    // A huge length (a negative count cast to size_t) is refused, not allocated.
    byteReaderClass huge(bytes, handler);
    EXPECT_EQ(errorOf([&] { huge.take(static_cast<size_t>(-4)); }), "Error: short");
    // An end set before the real one stops reads there; a start past the end leaves nothing.
    byteReaderClass limited(bytes, handler, 1);
    limited.setEnd(4);
    EXPECT_EQ(limited.left(), 3u);
    EXPECT_EQ(errorOf([&] { limited.u32(); }), "Error: short");
    limited.setEnd(100);
    EXPECT_EQ(limited.left(), 5u);
    byteReaderClass past(bytes, handler, 99);
    EXPECT_EQ(past.left(), 0u);
}

TEST(ByteReader, AHandlerThatReturnsStillEndsTheRead) {
    const std::string bytes = bytesOf({1});
    byteReaderClass in(bytes, [](size_t, size_t) {});
    EXPECT_NE(errorOf([&] { in.u32(); }).find("a read of 4 bytes with 1 left"), std::string::npos);
}
