// Replays saved fuzz inputs through a fuzz target without libFuzzer: every file named on the
// command line, or found directly inside a named directory, is fed to LLVMFuzzerTestOneInput.
#include <dirent.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

int ReplayFile(const std::string& path) {
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
    int replayed = 0;
    for (int i = 1; i < argc; ++i) {
        struct stat st {};
        if (stat(argv[i], &st) != 0) {
            std::fprintf(stderr, "missing %s\n", argv[i]);
            ++failures;
            continue;
        }
        if (!S_ISDIR(st.st_mode)) {
            failures += ReplayFile(argv[i]);
            ++replayed;
            continue;
        }
        DIR* dir = opendir(argv[i]);
        if (dir == nullptr) {
            ++failures;
            continue;
        }
        while (dirent* entry = readdir(dir)) {
            if (entry->d_name[0] == '.')
                continue;
            failures += ReplayFile(std::string(argv[i]) + "/" + entry->d_name);
            ++replayed;
        }
        closedir(dir);
    }
    // An empty call as well: the smallest input every parser must survive.
    LLVMFuzzerTestOneInput(nullptr, 0);
    std::printf("replayed %d inputs\n", replayed);
    return failures == 0 ? 0 : 1;
}
