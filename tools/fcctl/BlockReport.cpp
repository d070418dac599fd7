#include "BlockReport.h"

#include "Table.h"

namespace fcctl {

using FusionComputeSDKWrapper::SBlockExtentLib;

bool SummarizeBitmap(const std::string& hex, int sectorOfBlock, std::uint64_t diskBytes,
                     BitmapSummary& summary, std::string& error) {
    summary = BitmapSummary();
    if (!FusionComputeSDKWrapper::BitmapToExtents(hex, sectorOfBlock, diskBytes, summary.extents, error)) {
        return false;
    }
    summary.blockSize = static_cast<std::uint64_t>(sectorOfBlock) * 512u;
    for (const SBlockExtentLib& extent : summary.extents) {
        summary.blocks += extent.blockCount;
        summary.bytes += extent.length;
    }
    return true;
}

void PrintExtents(std::ostream& out, const std::string& disk, const BitmapSummary& summary,
                  std::size_t maxExtents) {
    // Without a disk label (one disk only) the column is left out.
    std::vector<std::string> headers{">START BLOCK", ">BLOCKS", ">OFFSET", ">LENGTH"};
    if (!disk.empty()) headers.insert(headers.begin(), "DISK");
    Table table(headers);
    std::size_t shown = 0;
    for (const SBlockExtentLib& extent : summary.extents) {
        if (maxExtents != 0 && shown == maxExtents) break;
        std::vector<std::string> row{std::to_string(extent.startBlock), std::to_string(extent.blockCount),
                                     std::to_string(extent.offset), std::to_string(extent.length)};
        if (!disk.empty()) row.insert(row.begin(), disk);
        table.AddRow(row);
        ++shown;
    }
    table.Print(out, disk.empty() ? "no blocks" : disk + ": no blocks");
    if (shown < summary.extents.size()) {
        out << "... " << summary.extents.size() - shown << " more extents (--max-extents 0 shows all)\n";
    }
}

void AddExtentsJson(json::object& object, const BitmapSummary& summary) {
    json::array extents;
    for (const SBlockExtentLib& extent : summary.extents) {
        extents.push_back(json::object{{"start", extent.startBlock},
                                       {"count", extent.blockCount},
                                       {"offset", extent.offset},
                                       {"length", extent.length}});
    }
    object.insert({{"blockSize", summary.blockSize},
                   {"blocks", summary.blocks},
                   {"bytes", summary.bytes},
                   {"extents", std::move(extents)}});
}

}  // namespace fcctl
