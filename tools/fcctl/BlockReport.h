#ifndef FCCTL_BLOCKREPORT_H
#define FCCTL_BLOCKREPORT_H

// Printing decoded block bitmaps: extents with their byte offsets, as a table or as JSON.

#include <ostream>
#include <string>

#include "Bitmap.h"
#include "JsonWriter.h"

namespace fcctl {

/// Rows of the extent table: the disk's label (may be empty), first block, block count, byte offset and
/// byte length; at most `maxExtents` extents (0: all), followed by a line telling how many were left out.
void PrintExtents(std::ostream& out, const std::string& disk, const BitmapSummary& summary,
                  std::uint64_t diskBytes, std::size_t maxExtents);

/// Writes "blockSize", "blocks", "bytes" and "extents" ([{"start", "count", "offset", "length"}]) as
/// members of the current object.
void WriteExtentsJson(JsonWriter& w, const BitmapSummary& summary, std::uint64_t diskBytes);

}  // namespace fcctl

#endif  // FCCTL_BLOCKREPORT_H
