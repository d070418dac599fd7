// BitmapToExtents, the library's decoder of the VRM's block bitmaps: hexadecimal text, two digits per byte
// (high nibble first), byte k covering blocks 8k..8k+7 with the least significant bit for block 8k; a page of
// bitNum blocks has ceil(bitNum / 4) digits.

#include <gtest/gtest.h>

#include <ostream>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "FusionComputeWrapper.h"

namespace {

using FusionComputeSDKWrapper::BitmapToExtents;
using FusionComputeSDKWrapper::SBlockExtentLib;

// A run of blocks (start, count), the part of an extent that the bitmap alone decides.
struct BlockExtent {
    std::uint64_t start = 0;
    std::uint64_t count = 0;
    bool operator==(const BlockExtent& other) const { return start == other.start && count == other.count; }
};

std::ostream& operator<<(std::ostream& out, const BlockExtent& e) {
    return out << "{" << e.start << ", " << e.count << "}";
}

// No disk size: every mark of the text counts.
constexpr std::uint64_t kNoLimit = 0;

// Decodes with blocks of one sector; `limit` is the disk's size in blocks (kNoLimit: unknown).
bool DecodeBitmap(const std::string& hex, std::uint64_t limit, std::vector<BlockExtent>& runs,
                  std::string& error) {
    std::vector<SBlockExtentLib> extents{SBlockExtentLib{}};
    const bool ok = BitmapToExtents(hex, 1, limit * 512, extents, error);
    runs.clear();
    for (const SBlockExtentLib& e : extents) {
        EXPECT_EQ(e.offset, e.startBlock * 512);
        runs.push_back(BlockExtent{e.startBlock, e.blockCount});
    }
    return ok;
}

// Encodes a set of blocks the way the VRM does, independently of the decoder: one byte per 8 blocks,
// least significant bit first, written high nibble first; the text is cut to ceil(bitNum / 4) digits,
// a trailing single digit being the low nibble of the last byte.
std::string Encode(const std::set<std::uint64_t>& blocks, std::uint64_t bitNum) {
    std::vector<unsigned> bytes((bitNum + 7) / 8, 0);
    for (std::uint64_t block : blocks) bytes[block / 8] |= 1u << (block % 8);
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (unsigned byte : bytes) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0xF];
    }
    const std::size_t digits = (bitNum + 3) / 4;
    if (digits % 2 == 1) {
        // The last byte is only half used: keep its low nibble as the single last digit.
        text[digits - 1] = text[digits];
    }
    text.resize(digits);
    return text;
}

std::set<std::uint64_t> Blocks(const std::vector<BlockExtent>& extents) {
    std::set<std::uint64_t> blocks;
    for (const BlockExtent& extent : extents) {
        for (std::uint64_t b = extent.start; b < extent.start + extent.count; ++b) blocks.insert(b);
    }
    return blocks;
}

struct DecodeCase {
    const char* name;
    std::string hex;
    std::uint64_t limit;
    std::vector<BlockExtent> expected;
};

class DecodeTest : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeTest, GivesTheSetBlocksAsMergedExtents) {
    const DecodeCase& c = GetParam();
    std::vector<BlockExtent> extents;
    std::string error;
    ASSERT_TRUE(DecodeBitmap(c.hex, c.limit, extents, error)) << error;
    EXPECT_EQ(extents, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Bitmaps, DecodeTest,
    ::testing::Values(DecodeCase{"Empty", "", kNoLimit, {}}, DecodeCase{"AllClear", "0000", kNoLimit, {}},
                      DecodeCase{"LeastSignificantBitIsFirstBlock", "01", kNoLimit, {{0, 1}}},
                      DecodeCase{"MostSignificantBitIsEighthBlock", "80", kNoLimit, {{7, 1}}},
                      DecodeCase{"HighNibbleComesFirst", "10", kNoLimit, {{4, 1}}},
                      DecodeCase{"SecondByteStartsAtBlockEight", "0001", kNoLimit, {{8, 1}}},
                      DecodeCase{"FullByte", "ff", kNoLimit, {{0, 8}}},
                      DecodeCase{"UpperCaseDigits", "FF", kNoLimit, {{0, 8}}},
                      DecodeCase{"RunAcrossBytesIsMerged", "f00f", kNoLimit, {{4, 8}}},
                      DecodeCase{"SeparateRuns", "0501", kNoLimit, {{0, 1}, {2, 1}, {8, 1}}},
                      DecodeCase{"RunToTheEnd", "00ff80", kNoLimit, {{8, 8}, {23, 1}}},
                      DecodeCase{"LimitCutsThePartialLastByte", "ff", 5, {{0, 5}}},
                      DecodeCase{"LimitDropsLaterBytes", "ffff", 8, {{0, 8}}},
                      DecodeCase{"BitsAboveLimitIgnored", "f0", 4, {}},
                      DecodeCase{"OddLengthEndsWithLowNibble", "ff3", kNoLimit, {{0, 10}}},
                      DecodeCase{"OddLengthSingleDigit", "8", kNoLimit, {{3, 1}}},
                      DecodeCase{"LowBitsOfSecondByte", "000c", kNoLimit, {{10, 2}}},
                      DecodeCase{"OddLengthHalfByteNotShifted", "001", kNoLimit, {{8, 1}}}),
    [](const ::testing::TestParamInfo<DecodeCase>& info) { return std::string(info.param.name); });

TEST(DecodeBitmapTest, RejectsCharactersThatAreNotHexDigits) {
    for (const std::string hex : {"0g", "g0", "ff-1", " ff", "ff\n", "ffx"}) {
        std::vector<BlockExtent> extents{{1, 1}};
        std::string error;
        EXPECT_FALSE(DecodeBitmap(hex, kNoLimit, extents, error)) << hex;
        EXPECT_NE(error.find("not a hexadecimal digit"), std::string::npos) << error;
        EXPECT_TRUE(extents.empty()) << hex;
    }
}

TEST(DecodeBitmapTest, PageSizesThatAreNotMultiplesOfEightRoundTrip) {
    // bitNum values around byte and nibble boundaries, each with a pattern touching the last blocks.
    for (std::uint64_t bitNum : {1u, 3u, 4u, 5u, 7u, 9u, 10u, 12u, 13u, 15u, 17u, 20u, 10001u}) {
        std::set<std::uint64_t> blocks{0, bitNum - 1};
        if (bitNum > 2) blocks.insert(bitNum - 2);
        const std::string hex = Encode(blocks, bitNum);
        ASSERT_EQ(hex.size(), (bitNum + 3) / 4);
        std::vector<BlockExtent> extents;
        std::string error;
        ASSERT_TRUE(DecodeBitmap(hex, bitNum, extents, error)) << error;
        EXPECT_EQ(Blocks(extents), blocks) << "bitNum " << bitNum << " text " << hex;
    }
}

TEST(DecodeBitmapTest, RandomBitmapsRoundTrip) {
    std::mt19937_64 random(20260101);
    for (int round = 0; round < 200; ++round) {
        const std::uint64_t bitNum = 1 + random() % 3000;
        const double density = (random() % 100) / 100.0;
        std::set<std::uint64_t> blocks;
        for (std::uint64_t b = 0; b < bitNum; ++b) {
            if ((random() % 1000) < density * 1000) blocks.insert(b);
        }
        std::vector<BlockExtent> extents;
        std::string error;
        ASSERT_TRUE(DecodeBitmap(Encode(blocks, bitNum), bitNum, extents, error)) << error;
        EXPECT_EQ(Blocks(extents), blocks) << "round " << round;
        for (std::size_t i = 1; i < extents.size(); ++i) {
            // Extents are ascending and never touch: adjacent runs must have been merged.
            EXPECT_GT(extents[i].start, extents[i - 1].start + extents[i - 1].count);
        }
    }
}

TEST(BitmapToExtentsTest, GivesOffsetsAndLengthsInBytesOfTheBlockSize) {
    std::vector<SBlockExtentLib> extents;
    std::string error;
    // 128 sectors of 512 bytes: 64 KiB blocks; blocks 0, 1, 2 and 9.
    ASSERT_TRUE(BitmapToExtents("0702", 128, 0, extents, error)) << error;
    ASSERT_EQ(extents.size(), 2u);
    EXPECT_EQ(extents[0].offset, 0u);
    EXPECT_EQ(extents[0].length, 3u * 65536u);
    EXPECT_EQ(extents[1].startBlock, 9u);
    EXPECT_EQ(extents[1].offset, 9u * 65536u);
    EXPECT_EQ(extents[1].length, 65536u);
}

TEST(BitmapToExtentsTest, TheLastBlockCountsOnlyUpToTheEndOfTheDisk) {
    std::vector<SBlockExtentLib> extents;
    std::string error;
    // A disk of two and a bit blocks: block 2 holds 1000 bytes of it, block 3 lies beyond it.
    const std::uint64_t diskBytes = 2 * 65536 + 1000;
    ASSERT_TRUE(BitmapToExtents("0f", 128, diskBytes, extents, error)) << error;
    ASSERT_EQ(extents.size(), 1u);
    EXPECT_EQ(extents[0].blockCount, 3u);
    EXPECT_EQ(extents[0].length, diskBytes);
}

TEST(BitmapToExtentsTest, RejectsABlockSizeThatIsNotPositiveAndBytesBeyondTwoToThe64) {
    std::vector<SBlockExtentLib> extents{SBlockExtentLib{}};
    std::string error;
    EXPECT_FALSE(BitmapToExtents("ff", 0, 0, extents, error));
    EXPECT_FALSE(BitmapToExtents("ff", -8, 0, extents, error));
    EXPECT_NE(error.find("block size"), std::string::npos);
    // Blocks of almost 2^40 bytes: block 2^25 starts beyond 2^64.
    std::string far(std::size_t{1} << 23, '0');
    far += "01";
    EXPECT_FALSE(BitmapToExtents(far, 0x7fffffff, 0, extents, error));
    EXPECT_NE(error.find("beyond 2^64 bytes"), std::string::npos) << error;
    EXPECT_TRUE(extents.empty());
}

}  // namespace
