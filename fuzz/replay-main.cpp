// Replays a fuzz corpus through a fuzz target without libFuzzer, so that the
// checked-in corpus runs as an ordinary regression test in every build.
//
// Usage: <target>-replay FILE_OR_DIRECTORY...

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

int replay_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return 1;
    }
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    int failures = 0;
    size_t replayed = 0;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path arg(argv[i]);
        std::error_code ec;
        if (std::filesystem::is_directory(arg, ec)) {
            for (const auto& entry : std::filesystem::directory_iterator(arg)) {
                if (entry.is_regular_file()) {
                    failures += replay_file(entry.path());
                    ++replayed;
                }
            }
        } else {
            failures += replay_file(arg);
            ++replayed;
        }
    }
    std::printf("replayed %zu inputs\n", replayed);
    if (replayed == 0) {
        std::fprintf(stderr, "no corpus inputs found\n");
        return 1;
    }
    return failures == 0 ? 0 : 1;
}
