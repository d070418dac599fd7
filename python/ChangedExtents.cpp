#include "ChangedExtents.h"

namespace fcsdk_python {

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Adds the set bits among the lowest `width` bits of `bits`, standing for blocks first..first+width-1.
void AddBits(std::vector<BlockExtent>& extents, std::uint64_t first, unsigned bits, unsigned width) {
    for (unsigned i = 0; i < width && bits != 0; ++i, bits >>= 1) {
        if ((bits & 1u) == 0) continue;
        const std::uint64_t block = first + i;
        if (!extents.empty() && extents.back().first + extents.back().second == block) {
            ++extents.back().second;
        } else {
            extents.emplace_back(block, 1);
        }
    }
}

}  // namespace

long DecodeBitmapExtents(std::string_view hex, std::vector<BlockExtent>& extents) {
    extents.clear();
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int high = HexValue(hex[i]);
        if (high < 0) return static_cast<long>(i);
        const std::uint64_t first = static_cast<std::uint64_t>(i / 2) * 8;
        if (i + 1 == hex.size()) {
            // A last single digit is the low nibble of its byte: the page ended inside that byte.
            AddBits(extents, first, static_cast<unsigned>(high), 4);
            break;
        }
        const int low = HexValue(hex[i + 1]);
        if (low < 0) return static_cast<long>(i + 1);
        AddBits(extents, first, static_cast<unsigned>(high * 16 + low), 8);
    }
    return -1;
}

}  // namespace fcsdk_python
