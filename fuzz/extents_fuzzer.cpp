// libFuzzer target for BitmapToExtents, the decoder of changed-block bitmaps, as a round trip against an
// independent encoder (one byte per 8 blocks, least significant bit first, written high nibble first; a
// text of odd length ends with the low nibble of its last byte).
//
// Input: byte 0 chooses the direction (bit 0) and the block size (bits 1-3), byte 1 the disk size; the
// rest is the payload.
// - Text to extents to text: the payload is a bitmap text. Decoding fails exactly when the text holds a
//   character that is not a hexadecimal digit or the block size is not positive (the sizes used here
//   never reach 2^64 bytes); otherwise the extents are ascending, never touch, carry their byte offsets
//   and lengths, and encoding them again gives the text in lower case, with the blocks beyond the disk
//   cleared.
// - Extents to text to extents: the payload is a list of gap and run lengths (one byte each); the
//   extents they describe, encoded and decoded, come back unchanged.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "FusionComputeWrapper.h"

namespace {

using FusionComputeSDKWrapper::BitmapToExtents;
using FusionComputeSDKWrapper::SBlockExtentLib;

// Reports the failed check's line (the replay build has no libFuzzer stack trace), then stops.
[[noreturn]] void Fail(int line) {
    std::fprintf(stderr, "check failed at %s:%d\n", __FILE__, line);
    __builtin_trap();
}

void Check(bool condition, int line = __builtin_LINE()) {
    if (!condition) Fail(line);
}

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

char Lower(char c) {
    return (c >= 'A' && c <= 'F') ? static_cast<char>(c - 'A' + 'a') : c;
}

// The text of `digits` digits that marks the blocks of `extents` below `blockLimit`.
std::string Encode(const std::vector<SBlockExtentLib>& extents, std::size_t digits, uint64_t blockLimit) {
    std::vector<unsigned> bytes(digits / 2 + 1, 0);
    for (const SBlockExtentLib& extent : extents) {
        for (uint64_t block = extent.startBlock; block < extent.startBlock + extent.blockCount; ++block) {
            if (block < blockLimit && block / 8 < bytes.size()) bytes[block / 8] |= 1u << (block % 8);
        }
    }
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (std::size_t k = 0; k < digits / 2; ++k) {
        text += kDigits[bytes[k] >> 4];
        text += kDigits[bytes[k] & 0xFu];
    }
    if (digits % 2 != 0) text += kDigits[bytes[digits / 2] & 0xFu];
    return text;
}

void CheckShape(const std::vector<SBlockExtentLib>& extents, uint64_t blockSize, uint64_t diskBytes) {
    for (std::size_t i = 0; i < extents.size(); ++i) {
        const SBlockExtentLib& e = extents[i];
        Check(e.blockCount >= 1);
        if (i > 0) Check(e.startBlock > extents[i - 1].startBlock + extents[i - 1].blockCount);
        Check(e.offset == e.startBlock * blockSize);
        uint64_t end = (e.startBlock + e.blockCount) * blockSize;
        if (diskBytes != 0) {
            Check(e.offset < diskBytes);
            if (end > diskBytes) end = diskBytes;
        }
        Check(e.length == end - e.offset && e.length > 0);
    }
}

void TextRoundTrip(const std::string& text, int sectorOfBlock, uint64_t diskBytes) {
    std::vector<SBlockExtentLib> extents(1);
    std::string error;
    const bool ok = BitmapToExtents(text, sectorOfBlock, diskBytes, extents, error);
    bool allHex = true;
    for (char c : text) allHex = allHex && IsHexDigit(c);
    Check(ok == (allHex && sectorOfBlock > 0));
    if (!ok) {
        Check(extents.empty() && !error.empty());
        return;
    }
    const uint64_t blockSize = static_cast<uint64_t>(sectorOfBlock) * 512u;
    CheckShape(extents, blockSize, diskBytes);
    const uint64_t blockLimit = diskBytes == 0 ? UINT64_MAX : (diskBytes + blockSize - 1) / blockSize;
    std::string expected;
    for (char c : text) expected += Lower(c);
    // Clearing the blocks beyond the disk: decode the lower-case text without a limit, encode with it.
    std::vector<SBlockExtentLib> unlimited;
    Check(BitmapToExtents(expected, sectorOfBlock, 0, unlimited, error));
    Check(Encode(unlimited, text.size(), UINT64_MAX) == expected);
    Check(Encode(extents, text.size(), UINT64_MAX) == Encode(unlimited, text.size(), blockLimit));
}

void ExtentRoundTrip(const uint8_t* data, std::size_t size, int sectorOfBlock) {
    if (sectorOfBlock <= 0) return;
    std::vector<SBlockExtentLib> extents;
    uint64_t block = 0;
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        // A gap of at least one block keeps the runs apart, as decoding merges touching runs.
        block += (extents.empty() ? 0u : 1u) + data[i];
        SBlockExtentLib extent;
        extent.startBlock = block;
        extent.blockCount = 1u + data[i + 1];
        block += extent.blockCount;
        extents.push_back(extent);
    }
    const std::size_t digits = static_cast<std::size_t>((block + 3) / 4);
    std::vector<SBlockExtentLib> decoded;
    std::string error;
    Check(BitmapToExtents(Encode(extents, digits, UINT64_MAX), sectorOfBlock, 0, decoded, error));
    Check(decoded.size() == extents.size());
    for (std::size_t i = 0; i < extents.size(); ++i) {
        Check(decoded[i].startBlock == extents[i].startBlock &&
              decoded[i].blockCount == extents[i].blockCount);
    }
    CheckShape(decoded, static_cast<uint64_t>(sectorOfBlock) * 512u, 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    static const int kSectors[] = {1, 8, 128, 2048, 65536, 0, -128, 3};
    const int sectorOfBlock = kSectors[(data[0] >> 1) & 7u];
    // 0: the disk's size is unknown; otherwise a size in bytes that need not end on a block.
    const uint64_t diskBytes = static_cast<uint64_t>(data[1]) * 1000u * 512u / 64u;
    if ((data[0] & 1u) == 0) {
        TextRoundTrip(std::string(reinterpret_cast<const char*>(data + 2), size - 2), sectorOfBlock,
                      diskBytes);
    } else {
        ExtentRoundTrip(data + 2, size - 2, sectorOfBlock);
    }
    return 0;
}
