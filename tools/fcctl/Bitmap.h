#ifndef FCCTL_BITMAP_H
#define FCCTL_BITMAP_H

// Decoding of the block bitmaps that the VRM returns for a disk's allocated or changed blocks.
//
// Encoding: hexadecimal text, two digits per byte with the high nibble first; byte k covers blocks
// 8k..8k+7, the least significant bit standing for block 8k. A page of bitNum blocks has ceil(bitNum / 4)
// digits, so a text of odd length ends with a single digit: the low nibble of its byte, blocks 8k..8k+3.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fcctl {

/// A run of consecutive set blocks.
struct BlockExtent {
    std::uint64_t start = 0;  ///< first block
    std::uint64_t count = 0;  ///< number of blocks

    bool operator==(const BlockExtent& other) const { return start == other.start && count == other.count; }
};

/// What a bitmap says about a disk.
struct BitmapSummary {
    std::vector<BlockExtent> extents;  ///< set blocks, ascending, adjacent runs merged
    std::uint64_t blocks = 0;          ///< number of set blocks
    std::uint64_t bytes = 0;           ///< bytes those blocks cover (clipped to the disk size)
    std::uint64_t blockSize = 0;       ///< bytes per block
};

/// Blocks beyond this limit are ignored; kNoLimit keeps every bit of the text.
constexpr std::uint64_t kNoLimit = UINT64_MAX;

/// Decodes a bitmap text into extents of set blocks.
/// @param hex the bitmap text (digits 0-9, a-f, A-F)
/// @param blockLimit number of blocks the disk has; bits at or above it are ignored
/// @param extents receives the extents
/// @param error receives a message for a text that is not hexadecimal
/// @return false when the text holds a character that is not a hexadecimal digit
bool DecodeBitmap(std::string_view hex, std::uint64_t blockLimit, std::vector<BlockExtent>& extents,
                  std::string& error);

/// Decodes a bitmap and adds up blocks and bytes.
/// @param hex the bitmap text
/// @param sectorOfBlock 512-byte sectors per block (must be positive)
/// @param diskBytes size of the disk in bytes, or kNoLimit when unknown; the last block is counted only
/// up to the end of the disk
/// @param summary receives the result
/// @param error receives a message on failure
/// @return false for a text that is not hexadecimal or a block size that is not positive
bool SummarizeBitmap(std::string_view hex, int sectorOfBlock, std::uint64_t diskBytes, BitmapSummary& summary,
                     std::string& error);

}  // namespace fcctl

#endif  // FCCTL_BITMAP_H
