#ifndef FCCTL_BLOCKREPORT_H
#define FCCTL_BLOCKREPORT_H

// Block bitmaps decoded by the library into extents, added up, and printed with their byte offsets as a
// table or as JSON.

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "FusionComputeWrapper.h"
#include "JsonWriter.h"

namespace fcctl {

/// What a bitmap says about a disk.
struct BitmapSummary {
    std::vector<FusionComputeSDKWrapper::SBlockExtentLib> extents;  ///< set blocks, ascending, merged
    std::uint64_t blocks = 0;                                       ///< number of set blocks
    std::uint64_t bytes = 0;      ///< bytes those blocks cover (clipped to the disk size)
    std::uint64_t blockSize = 0;  ///< bytes per block
};

/// Decodes a bitmap with the library and adds up blocks and bytes.
/// @param hex the bitmap text
/// @param sectorOfBlock 512-byte sectors per block
/// @param diskBytes size of the disk in bytes, or 0 when unknown
/// @param summary receives the result
/// @param error receives a message on failure
/// @return false for a text that is not hexadecimal or a block size that is not positive
bool SummarizeBitmap(const std::string& hex, int sectorOfBlock, std::uint64_t diskBytes,
                     BitmapSummary& summary, std::string& error);

/// Rows of the extent table: the disk's label (may be empty), first block, block count, byte offset and
/// byte length; at most `maxExtents` extents (0: all), followed by a line telling how many were left out.
void PrintExtents(std::ostream& out, const std::string& disk, const BitmapSummary& summary,
                  std::size_t maxExtents);

/// Adds "blockSize", "blocks", "bytes" and "extents" ([{"start", "count", "offset", "length"}]) to `object`.
void AddExtentsJson(json::object& object, const BitmapSummary& summary);

}  // namespace fcctl

#endif  // FCCTL_BLOCKREPORT_H
