#include "BlockReport.h"

#include "Table.h"

namespace fcctl {

namespace {

std::uint64_t ExtentLength(const BlockExtent& extent, std::uint64_t blockSize, std::uint64_t diskBytes) {
    const std::uint64_t begin = extent.start * blockSize;
    std::uint64_t end = (extent.start + extent.count) * blockSize;
    if (diskBytes != kNoLimit && end > diskBytes) end = diskBytes;
    return end - begin;
}

}  // namespace

void PrintExtents(std::ostream& out, const std::string& disk, const BitmapSummary& summary,
                  std::uint64_t diskBytes, std::size_t maxExtents) {
    // Without a disk label (one disk only) the column is left out.
    std::vector<std::string> headers{">START BLOCK", ">BLOCKS", ">OFFSET", ">LENGTH"};
    if (!disk.empty()) headers.insert(headers.begin(), "DISK");
    Table table(headers);
    std::size_t shown = 0;
    for (const BlockExtent& extent : summary.extents) {
        if (maxExtents != 0 && shown == maxExtents) break;
        std::vector<std::string> row{std::to_string(extent.start), std::to_string(extent.count),
                                     std::to_string(extent.start * summary.blockSize),
                                     std::to_string(ExtentLength(extent, summary.blockSize, diskBytes))};
        if (!disk.empty()) row.insert(row.begin(), disk);
        table.AddRow(row);
        ++shown;
    }
    table.Print(out, disk.empty() ? "no blocks" : disk + ": no blocks");
    if (shown < summary.extents.size()) {
        out << "... " << summary.extents.size() - shown << " more extents (--max-extents 0 shows all)\n";
    }
}

void WriteExtentsJson(JsonWriter& w, const BitmapSummary& summary, std::uint64_t diskBytes) {
    w.Member("blockSize", static_cast<unsigned long long>(summary.blockSize));
    w.Member("blocks", static_cast<unsigned long long>(summary.blocks));
    w.Member("bytes", static_cast<unsigned long long>(summary.bytes));
    w.Key("extents").BeginArray();
    for (const BlockExtent& extent : summary.extents) {
        w.BeginObject();
        w.Member("start", static_cast<unsigned long long>(extent.start));
        w.Member("count", static_cast<unsigned long long>(extent.count));
        w.Member("offset", static_cast<unsigned long long>(extent.start * summary.blockSize));
        w.Member("length",
                 static_cast<unsigned long long>(ExtentLength(extent, summary.blockSize, diskBytes)));
        w.EndObject();
    }
    w.EndArray();
}

}  // namespace fcctl
