#ifndef VRMSIM_CBT_H
#define VRMSIM_CBT_H

// Changed-block tracking of the simulated volumes.
//
// A volume's blocks are numbered from 0; one block is `sectorOfBlock` sectors of 512 bytes. What was
// written is kept as sparse sets of block runs, so a 2 TB disk costs memory only for its runs, not for
// its 33 million blocks. The history of a volume is cut by marks: every snapshot taken while tracking
// is on adds one mark (its chgID and the disk snapshot's snapUuid) that closes the blocks written since
// the previous mark. So
//   allocated at mark i       = base + written up to mark i
//   changed from mark j to i  = written after mark j up to mark i
// and a mark stays when its snapshot is deleted, because the change token of an earlier backup names
// it long after that snapshot is gone.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace vrmsim {

/// A set of block numbers kept as disjoint, non-adjacent runs [start, end).
class BlockSet {
  public:
    /// Adds the blocks [start, start + count); merges with touching runs.
    void Add(std::uint64_t start, std::uint64_t count);
    /// Adds every block of another set.
    void AddAll(const BlockSet& other);
    /// Number of blocks in the set.
    std::uint64_t Count() const { return count_; }
    /// Number of runs (for tests of the sparse representation).
    std::size_t Runs() const { return runs_.size(); }
    bool Empty() const { return runs_.empty(); }
    /// Sets bit (b - first) of `bits` (LSB first within each byte) for every block b of the set in
    /// [first, first + count). `bits` must hold at least ceil(count / 8) bytes.
    void Paint(std::uint64_t first, std::uint64_t count, std::vector<std::uint8_t>& bits) const;

  private:
    std::map<std::uint64_t, std::uint64_t> runs_;  ///< start -> end (exclusive)
    std::uint64_t count_ = 0;
};

/// One cut in a volume's history: a disk snapshot taken while tracking was on.
struct CbtMark {
    std::string chgID;     ///< change identifier of the disk at this snapshot
    std::string snapUuid;  ///< identifier of the disk snapshot
    BlockSet written;      ///< blocks written since the previous mark (or since tracking began)
};

/// The tracked history of one volume.
struct VolumeCbt {
    int sectorOfBlock = 128;  ///< fixed when the history starts
    BlockSet base;            ///< allocated before the simulator saw any write
    std::vector<CbtMark> marks;
    BlockSet open;  ///< written since the last mark

    /// Index of the mark with this chgID or snapUuid, or -1.
    int FindChange(const std::string& chgID) const;
    int FindSnapshot(const std::string& snapUuid) const;
    /// Closes the open blocks into a new mark.
    void AddMark(const std::string& chgID, const std::string& snapUuid);
    /// Drops a mark as if its snapshot had never been taken: its blocks move to the following mark
    /// (or back to the open blocks). Used when a snapshot fails.
    void RemoveMark(const std::string& chgID);
};

/// One page of a changed-block answer.
struct CbtPage {
    std::uint64_t bitNum = 0;   ///< blocks covered
    std::uint64_t bit1Num = 0;  ///< blocks set
    std::string bitMap;         ///< hexadecimal text, see EncodeBitmap
};

/// Bits of `sets` (their union) for the blocks [first, first + count) as a page.
CbtPage MakePage(const std::vector<const BlockSet*>& sets, std::uint64_t first, std::uint64_t count);

/// The VRM's bitmap text: two hex digits per byte, high nibble first; byte k covers blocks 8k to
/// 8k + 7 of the page with the least significant bit for block 8k. A last byte that covers 1 to 4
/// blocks is written as one digit (its low nibble), so `bitNum` bits take ceil(bitNum / 4) digits.
std::string EncodeBitmap(const std::vector<std::uint8_t>& bits, std::uint64_t bitNum);

}  // namespace vrmsim

#endif  // VRMSIM_CBT_H
