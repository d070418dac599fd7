// Replays fuzz inputs through a libFuzzer entry function without libFuzzer, so that the corpus runs as
// an ordinary test with the normal compiler. Arguments are files or directories (searched
// recursively); the run fails when no input was found, so a wrong corpus path cannot pass silently.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

bool ReplayFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::cerr << "cannot read " << path << "\n";
        return false;
    }
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    size_t replayed = 0;
    bool ok = true;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path root(argv[i]);
        if (std::filesystem::is_regular_file(root)) {
            ok = ReplayFile(root) && ok;
            ++replayed;
            continue;
        }
        if (!std::filesystem::is_directory(root)) {
            std::cerr << "no such file or directory: " << root << "\n";
            ok = false;
            continue;
        }
        for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
            if (!entry.is_regular_file()) continue;
            ok = ReplayFile(entry.path()) && ok;
            ++replayed;
        }
    }
    std::cout << "replayed " << replayed << " inputs\n";
    return ok && replayed > 0 ? 0 : 1;
}
