// libFuzzer target for CFusionComputeParser: arbitrary answer bodies through ParseObject, ParseList and
// ParsePagedList for every record type.
//
// Input layout: the first byte chooses the record and the entry point, the rest is the body.
//   record      = (byte & 0x1F) % number of record types
//   entry point = (byte >> 5) % 3: 0 ParseObject, 1 ParseList, 2 ParsePagedList
// so printable selectors read naturally in the corpus: '`'..'~' ParseObject, ' '..'?' ParseList,
// '@'..'_' ParsePagedList, with the record given by the low five bits.
//
// The parser must answer true or false for every body and never let an exception or a crash escape;
// type errors are logged, so the log goes to a sink that drops the lines (the formatting still runs).

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "EvDebug.h"
#include "FusionComputeRecords.h"
#include "parser/FusionComputeParser.h"
#include "platform/MlJson.h"
#include "platform/json_spirit.h"

namespace {

using namespace FusionComputeSDKWrapper;

enum class Entry { Object = 0, List = 1, PagedList = 2 };

// True when `body` is a JSON object holding an array under `key`, the precondition of every record
// being appended and of "total" being read.
// NOLINTNEXTLINE(bugprone-easily-swappable-parameters)
bool HasList(const std::string& body, const std::string& key) {
    json_spirit::mObject object;
    if (!MlJson::Unserialize(body, object)) return false;
    const auto it = object.find(key);
    return it != object.end() && it->second.type() == json_spirit::array_type;
}

template <typename T>
void Run(CFusionComputeParser& parser, Entry entry, const std::string& key, const std::string& body) {
    if (entry == Entry::Object) {
        T record;
        parser.ParseObject(body, record);
        return;
    }
    // Both list readers start from a non-empty vector (they may only append) and must agree on the
    // answer and on the records appended.
    std::vector<T> listed(1);
    std::vector<T> paged(1);
    int64_t total = 12345;
    const bool listOk = parser.ParseList(body, key, listed);
    const bool pagedOk = parser.ParsePagedList(body, key, paged, total);
    if (listOk != pagedOk || listed.size() != paged.size() || listed.empty()) __builtin_trap();
    if (entry == Entry::PagedList && !HasList(body, key)) {
        // Without the list nothing is appended and "total" is left alone.
        if (pagedOk || paged.size() != 1 || total != 12345) __builtin_trap();
    }
}

using Runner = void (*)(CFusionComputeParser&, Entry, const std::string&, const std::string&);

struct Target {
    Runner run;
    const char* key;  // the list key the library reads for this record, or a plausible one
};

const Target kTargets[] = {
    {&Run<SVersionInfoLib>, "versions"},
    {&Run<SErrorInfoLib>, "errors"},
    {&Run<STaskInfoLib>, "tasks"},
    {&Run<SOSVersionInfoLib>, "windows"},
    {&Run<SOSVersionsInfoLib>, "osVersions"},
    {&Run<SSiteInfoLib>, "sites"},
    {&Run<SFolderInfoLib>, "folders"},
    {&Run<SClusterInfoLib>, "clusters"},
    {&Run<SHostInfoLib>, "hosts"},
    {&Run<SVMInfoLib>, "vms"},
    {&Run<SDiskInfoLib>, "disks"},
    {&Run<SVMNetworkCardInfoLib>, "nics"},
    {&Run<SDataStoreInfoLib>, "datastores"},
    {&Run<SStorageUnitInfoLib>, "storageUnits"},
    {&Run<SStorageDeviceInfoLib>, "storageUnits"},
    {&Run<SStorageResourceInfoLib>, "storageResources"},
    {&Run<SNetworkInfoLib>, "dvSwitchs"},
    {&Run<SPortGroupInfoLib>, "portGroups"},
    {&Run<SSnapshotTreeInfoLib>, "rootSnapshots"},
    {&Run<SSnapshotInfoLib>, "snapshots"},
    {&Run<SDiskSnapshotInfoLib>, "volsnapshots"},
    {&Run<SDiskBitmapInfoLib>, "bitmaps"},
    {&Run<SBackupResourceInfoLib>, "backupResources"},
    {&Run<SOVFInfoLib>, "ovfs"},
    {&Run<SOVFFileItemInfoLib>, "fileItems"},
};
constexpr size_t kTargetCount = sizeof(kTargets) / sizeof(kTargets[0]);

void DropLogLines() {
    static const bool installed = [] {
        EvDebug::SetSink([](EvDebugLevel, const std::string&) {});
        return true;
    }();
    (void)installed;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    DropLogLines();
    const uint8_t selector = data[0];
    const Target& target = kTargets[(selector & 0x1F) % kTargetCount];
    const Entry entry = static_cast<Entry>((selector >> 5) % 3);
    const std::string body(reinterpret_cast<const char*>(data + 1), size - 1);
    CFusionComputeParser parser;
    target.run(parser, entry, target.key, body);
    return 0;
}
