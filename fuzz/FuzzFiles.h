#pragma once
// Files of the fuzz targets: a private temporary directory for the parser's
// files, and reading them back.
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A private temporary directory, on a memory file system where there is one;
// removed at exit, when it is empty again.
class PrivateTempDir {
public:
    PrivateTempDir() {
        struct stat info;
        const std::string base = stat("/dev/shm", &info) == 0 && S_ISDIR(info.st_mode) ? "/dev/shm" : "/tmp";
        path_ = base + "/qor-fuzz-" + std::to_string(getpid());
        mkdir(path_.c_str(), 0700);
        setenv("TMPDIR", path_.c_str(), 1);
    }
    ~PrivateTempDir() { rmdir(path_.c_str()); }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

const std::string& TempDir() {
    static const PrivateTempDir dir;
    return dir.Path();
}

bool DirectoryEmpty(const std::string& path) {
    DIR* dir = opendir(path.c_str());
    if (dir == nullptr) return false;
    bool empty = true;
    while (const dirent* entry = readdir(dir))
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) empty = false;
    closedir(dir);
    return empty;
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace
