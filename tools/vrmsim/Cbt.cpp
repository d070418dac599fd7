#include "Cbt.h"

#include <algorithm>

namespace vrmsim {

void BlockSet::Add(std::uint64_t start, std::uint64_t count) {
    if (count == 0) return;
    std::uint64_t end = start + count;
    // The first run that could touch [start, end) is the last one starting at or before `start`.
    auto it = runs_.upper_bound(start);
    if (it != runs_.begin()) {
        auto previous = std::prev(it);
        if (previous->second >= start) it = previous;
    }
    while (it != runs_.end() && it->first <= end) {
        start = std::min(start, it->first);
        end = std::max(end, it->second);
        count_ -= it->second - it->first;
        it = runs_.erase(it);
    }
    runs_.emplace(start, end);
    count_ += end - start;
}

void BlockSet::AddAll(const BlockSet& other) {
    for (const auto& run : other.runs_) Add(run.first, run.second - run.first);
}

void BlockSet::Paint(std::uint64_t first, std::uint64_t count, std::vector<std::uint8_t>& bits) const {
    const std::uint64_t last = first + count;
    auto it = runs_.upper_bound(first);
    if (it != runs_.begin()) --it;
    for (; it != runs_.end() && it->first < last; ++it) {
        if (it->second <= first) continue;  // the run before the page may end before it starts
        std::uint64_t from = std::max(it->first, first) - first;
        std::uint64_t to = std::min(it->second, last) - first;
        // Single bits up to a byte boundary, whole bytes in the middle, single bits at the end.
        while (from < to && (from % 8) != 0) {
            bits[from / 8] |= static_cast<std::uint8_t>(1u << (from % 8));
            ++from;
        }
        while (from + 8 <= to) {
            bits[from / 8] = 0xFF;
            from += 8;
        }
        while (from < to) {
            bits[from / 8] |= static_cast<std::uint8_t>(1u << (from % 8));
            ++from;
        }
    }
}

int VolumeCbt::FindChange(const std::string& chgID) const {
    for (std::size_t i = 0; i < marks.size(); ++i) {
        if (marks[i].chgID == chgID) return static_cast<int>(i);
    }
    return -1;
}

int VolumeCbt::FindSnapshot(const std::string& snapUuid) const {
    for (std::size_t i = 0; i < marks.size(); ++i) {
        if (marks[i].snapUuid == snapUuid) return static_cast<int>(i);
    }
    return -1;
}

void VolumeCbt::AddMark(const std::string& chgID, const std::string& snapUuid) {
    CbtMark mark;
    mark.chgID = chgID;
    mark.snapUuid = snapUuid;
    mark.written = std::move(open);
    open = BlockSet();
    marks.push_back(std::move(mark));
}

void VolumeCbt::RemoveMark(const std::string& chgID) {
    int index = FindChange(chgID);
    if (index < 0) return;
    auto position = marks.begin() + index;
    BlockSet& next = (position + 1 != marks.end()) ? (position + 1)->written : open;
    next.AddAll(position->written);
    marks.erase(position);
}

std::string EncodeBitmap(const std::vector<std::uint8_t>& bits, std::uint64_t bitNum) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(static_cast<std::size_t>((bitNum + 3) / 4));
    const std::uint64_t fullBytes = bitNum / 8;
    for (std::uint64_t k = 0; k < fullBytes; ++k) {
        text.push_back(kDigits[bits[k] >> 4]);
        text.push_back(kDigits[bits[k] & 0x0F]);
    }
    const std::uint64_t rest = bitNum % 8;
    if (rest > 4) {
        text.push_back(kDigits[bits[fullBytes] >> 4]);
        text.push_back(kDigits[bits[fullBytes] & 0x0F]);
    } else if (rest > 0) {
        text.push_back(kDigits[bits[fullBytes] & 0x0F]);
    }
    return text;
}

CbtPage MakePage(const std::vector<const BlockSet*>& sets, std::uint64_t first, std::uint64_t count) {
    std::vector<std::uint8_t> bits(static_cast<std::size_t>((count + 7) / 8), 0);
    for (const BlockSet* set : sets) set->Paint(first, count, bits);
    CbtPage page;
    page.bitNum = count;
    for (std::uint8_t byte : bits) page.bit1Num += static_cast<std::uint64_t>(__builtin_popcount(byte));
    page.bitMap = EncodeBitmap(bits, count);
    return page;
}

}  // namespace vrmsim
