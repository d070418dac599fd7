// Decoding of the block bitmaps of the changed-block queries into extents. The text comes from the VRM
// unchanged, so every character is checked and every byte count is computed without overflow.

#include <cstdint>
#include <string>
#include <vector>

#include "FusionComputeWrapper.h"
#include "wrapper/HexDigit.h"

namespace FusionComputeSDKWrapper {

namespace {

// Collects marked blocks into runs, extending the last run when a block continues it.
class RunBuilder {
  public:
    RunBuilder(std::vector<SBlockExtentLib>& extents, uint64_t blockLimit)
        : extents_(extents), limit_(blockLimit) {}

    // Adds the set bits among the lowest `width` bits of `bits`, standing for blocks first..first+width-1.
    void AddBits(uint64_t first, unsigned bits, unsigned width) {
        if (bits == 0) return;
        if (width == 8 && bits == 0xFFu && first + 8 <= limit_) {
            AddRun(first, 8);
            return;
        }
        for (unsigned i = 0; i < width && bits != 0; ++i, bits >>= 1) {
            if ((bits & 1u) != 0 && first + i < limit_) AddRun(first + i, 1);
        }
    }

  private:
    void AddRun(uint64_t block, uint64_t count) {
        if (!extents_.empty() && extents_.back().startBlock + extents_.back().blockCount == block) {
            extents_.back().blockCount += count;
        } else {
            SBlockExtentLib extent;
            extent.startBlock = block;
            extent.blockCount = count;
            extents_.push_back(extent);
        }
    }

    std::vector<SBlockExtentLib>& extents_;
    uint64_t limit_;
};

bool Fail(std::vector<SBlockExtentLib>& extents, std::string& error, const std::string& message) {
    extents.clear();
    error = message;
    return false;
}

std::string NotHex(std::size_t position) {
    return "the bitmap holds a character that is not a hexadecimal digit at position " +
           std::to_string(position);
}

}  // namespace

bool BitmapToExtents(const std::string& bitmap, int sectorOfBlock, uint64_t diskBytes,
                     std::vector<SBlockExtentLib>& extents, std::string& error) {
    extents.clear();
    if (sectorOfBlock <= 0) {
        return Fail(extents, error, "the block size is " + std::to_string(sectorOfBlock) + " sectors");
    }
    const uint64_t blockSize = static_cast<uint64_t>(sectorOfBlock) * 512u;
    // Blocks that start at or beyond the end of a disk of known size are not part of it.
    const uint64_t blockLimit =
        diskBytes == 0 ? UINT64_MAX : diskBytes / blockSize + (diskBytes % blockSize != 0);

    RunBuilder builder(extents, blockLimit);
    const std::size_t pairs = bitmap.size() / 2;
    for (std::size_t k = 0; k < pairs; ++k) {
        const int high = HexDigitValue(bitmap[2 * k]);
        const int low = HexDigitValue(bitmap[2 * k + 1]);
        if (high < 0) return Fail(extents, error, NotHex(2 * k));
        if (low < 0) return Fail(extents, error, NotHex(2 * k + 1));
        builder.AddBits(static_cast<uint64_t>(k) * 8, static_cast<unsigned>(high * 16 + low), 8);
    }
    if (bitmap.size() % 2 != 0) {
        // A last single digit is the low nibble of its byte: the bitmap ended inside that byte.
        const int nibble = HexDigitValue(bitmap.back());
        if (nibble < 0) return Fail(extents, error, NotHex(bitmap.size() - 1));
        builder.AddBits(static_cast<uint64_t>(pairs) * 8, static_cast<unsigned>(nibble), 4);
    }

    for (SBlockExtentLib& extent : extents) {
        uint64_t end = 0;
        if (__builtin_mul_overflow(extent.startBlock, blockSize, &extent.offset) ||
            __builtin_mul_overflow(extent.startBlock + extent.blockCount, blockSize, &end)) {
            return Fail(extents, error,
                        "block " + std::to_string(extent.startBlock + extent.blockCount - 1) + " of " +
                            std::to_string(blockSize) + " bytes lies beyond 2^64 bytes");
        }
        if (diskBytes != 0 && end > diskBytes) end = diskBytes;
        extent.length = end - extent.offset;
    }
    return true;
}

}  // namespace FusionComputeSDKWrapper
