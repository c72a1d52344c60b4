// Runs the fuzz target over files and directories of inputs without libFuzzer:
// the regression replay of the seed corpus in the ordinary test trees.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <dirent.h>
#include <sys/stat.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

int RunFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    return 1;
}

int Run(const std::string& path) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0) {
        std::fprintf(stderr, "replay: cannot read %s\n", path.c_str());
        return -1;
    }
    if (!S_ISDIR(info.st_mode)) return RunFile(path);
    int count = 0;
    if (DIR* dir = opendir(path.c_str())) {
        while (const dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name == "." || name == "..") continue;
            const int n = Run(path + "/" + name);
            if (n < 0) return n;
            count += n;
        }
        closedir(dir);
    }
    return count;
}

}  // namespace

int main(int argc, char** argv) {
    int total = 0;
    for (int i = 1; i < argc; ++i) {
        const int n = Run(argv[i]);
        if (n < 0) return 2;
        total += n;
    }
    std::printf("replayed %d inputs\n", total);
    return total > 0 ? 0 : 1;  // an empty corpus replays nothing: fail loudly
}
