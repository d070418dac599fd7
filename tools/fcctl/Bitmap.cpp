#include "Bitmap.h"

namespace fcctl {

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Collects set bits into extents, merging a bit into the run it continues.
class ExtentBuilder {
  public:
    ExtentBuilder(std::vector<BlockExtent>& extents, std::uint64_t limit)
        : extents_(extents), limit_(limit) {}

    // Adds the set bits of `bits` (the lowest `width` bits) standing for blocks first..first+width-1.
    void AddBits(std::uint64_t first, unsigned bits, unsigned width) {
        for (unsigned i = 0; i < width && bits != 0; ++i, bits >>= 1) {
            if ((bits & 1u) != 0 && first + i < limit_) Add(first + i);
        }
    }

  private:
    void Add(std::uint64_t block) {
        if (!extents_.empty() && extents_.back().start + extents_.back().count == block) {
            ++extents_.back().count;
        } else {
            extents_.push_back(BlockExtent{block, 1});
        }
    }

    std::vector<BlockExtent>& extents_;
    std::uint64_t limit_;
};

}  // namespace

bool DecodeBitmap(std::string_view hex, std::uint64_t blockLimit, std::vector<BlockExtent>& extents,
                  std::string& error) {
    extents.clear();
    ExtentBuilder builder(extents, blockLimit);
    const std::size_t pairs = hex.size() / 2;
    for (std::size_t k = 0; k < pairs; ++k) {
        const int high = HexValue(hex[2 * k]);
        const int low = HexValue(hex[2 * k + 1]);
        if (high < 0 || low < 0) {
            error = "bitmap holds a character that is not a hexadecimal digit at position " +
                    std::to_string(high < 0 ? 2 * k : 2 * k + 1);
            extents.clear();
            return false;
        }
        const std::uint64_t first = static_cast<std::uint64_t>(k) * 8;
        if (first >= blockLimit) break;
        builder.AddBits(first, static_cast<unsigned>(high * 16 + low), 8);
    }
    if (hex.size() % 2 != 0) {
        // A last single digit is the low nibble of its byte: the page ended inside that byte.
        const int nibble = HexValue(hex.back());
        if (nibble < 0) {
            error = "bitmap holds a character that is not a hexadecimal digit at position " +
                    std::to_string(hex.size() - 1);
            extents.clear();
            return false;
        }
        builder.AddBits(static_cast<std::uint64_t>(pairs) * 8, static_cast<unsigned>(nibble), 4);
    }
    return true;
}

bool SummarizeBitmap(std::string_view hex, int sectorOfBlock, std::uint64_t diskBytes, BitmapSummary& summary,
                     std::string& error) {
    summary = BitmapSummary();
    if (sectorOfBlock <= 0) {
        error = "the VRM gave a block size of " + std::to_string(sectorOfBlock) + " sectors";
        return false;
    }
    summary.blockSize = static_cast<std::uint64_t>(sectorOfBlock) * 512u;
    std::uint64_t limit = kNoLimit;
    if (diskBytes != kNoLimit) limit = (diskBytes + summary.blockSize - 1) / summary.blockSize;
    if (!DecodeBitmap(hex, limit, summary.extents, error)) return false;
    for (const BlockExtent& extent : summary.extents) {
        summary.blocks += extent.count;
        const std::uint64_t begin = extent.start * summary.blockSize;
        std::uint64_t end = (extent.start + extent.count) * summary.blockSize;
        if (diskBytes != kNoLimit && end > diskBytes) end = diskBytes;
        summary.bytes += end - begin;
    }
    return true;
}

}  // namespace fcctl
