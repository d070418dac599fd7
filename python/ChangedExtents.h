#ifndef FCSDK_PYTHON_CHANGEDEXTENTS_H
#define FCSDK_PYTHON_CHANGEDEXTENTS_H

// Decoding of a block bitmap (allocated or changed blocks of a disk) into runs of set blocks, for the
// Python module's changed_extents(). Kept apart from the bindings so that a decoder of the library can
// take its place.
//
// Encoding: hexadecimal text, two digits per byte with the high nibble first; byte k covers blocks
// 8k..8k+7, the least significant bit standing for block 8k. A text of odd length ends with one digit:
// the low nibble of its byte (blocks 8k..8k+3).

#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

namespace fcsdk_python {

/// A run of set blocks: first block and number of blocks.
using BlockExtent = std::pair<std::uint64_t, std::uint64_t>;

/// Decodes a bitmap into ascending runs of set blocks, adjacent runs merged.
/// @param hex the bitmap text
/// @param extents receives the runs
/// @return the position of the first character that is not a hexadecimal digit, or -1 when every
///         character is one (`extents` is then complete)
long DecodeBitmapExtents(std::string_view hex, std::vector<BlockExtent>& extents);

}  // namespace fcsdk_python

#endif  // FCSDK_PYTHON_CHANGEDEXTENTS_H
