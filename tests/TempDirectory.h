#pragma once
// A private directory for one test that the runtime's temporary-name function
// uses (TMPDIR natively, TMP on Windows) while the object lives, so a test can
// see which files a parse leaves behind. Whatever is left is removed at the end.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#ifdef _WIN32
#include <direct.h>
#include <io.h>
#include <process.h>
#else
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "support/RuntimeFiles.h"

using namespace qor;

class TempDirectory {
public:
#ifdef _WIN32
    static constexpr const char* kVariable = "TMP";
    static constexpr char kSeparator = '\\';
#else
    static constexpr const char* kVariable = "TMPDIR";
    static constexpr char kSeparator = '/';
#endif

    TempDirectory() {
        const char* previous = std::getenv(kVariable);
        hadPrevious_ = previous != nullptr;
        if (hadPrevious_) previous_ = previous;
        std::string base = hadPrevious_ && !previous_.empty() ? previous_ : DefaultBase();
        for (int attempt = 0; path_.empty(); ++attempt) {
            std::string candidate = base + kSeparator + "qor-test-" + std::to_string(Pid()) + "-" +
                                    std::to_string(attempt);
            if (MakeDirectory(candidate)) path_ = candidate;
            if (attempt > 1000) std::abort();
        }
        SetVariable(path_);
    }
    ~TempDirectory() {
        for (const std::string& name : Files()) rt::Unlink(Join(name).c_str());
        RemoveDirectory(path_);
        if (hadPrevious_)
            SetVariable(previous_);
        else
            UnsetVariable();
    }
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;

    const std::string& Path() const { return path_; }
    std::string Join(const std::string& name) const { return path_ + kSeparator + name; }

    // Names of the entries in the directory, sorted.
    std::vector<std::string> Files() const {
        std::vector<std::string> names;
#ifdef _WIN32
        _finddata_t info;
        const intptr_t handle = _findfirst(Join("*").c_str(), &info);
        if (handle != -1) {
            do {
                const std::string name = info.name;
                if (name != "." && name != "..") names.push_back(name);
            } while (_findnext(handle, &info) == 0);
            _findclose(handle);
        }
#else
        if (DIR* dir = opendir(path_.c_str())) {
            while (const dirent* entry = readdir(dir)) {
                const std::string name = entry->d_name;
                if (name != "." && name != "..") names.push_back(name);
            }
            closedir(dir);
        }
#endif
        std::sort(names.begin(), names.end());
        return names;
    }

    // Points the temporary-name function somewhere else for this test.
    static void SetVariable(const std::string& value) {
#ifdef _WIN32
        _putenv((std::string(kVariable) + "=" + value).c_str());
#else
        setenv(kVariable, value.c_str(), 1);
#endif
    }

private:
    static int Pid() {
#ifdef _WIN32
        return _getpid();
#else
        return static_cast<int>(getpid());
#endif
    }
    static std::string DefaultBase() {
#ifdef _WIN32
        return ".";
#else
        return "/tmp";
#endif
    }
    static bool MakeDirectory(const std::string& path) {
#ifdef _WIN32
        return _mkdir(path.c_str()) == 0;
#else
        return mkdir(path.c_str(), 0700) == 0;
#endif
    }
    static void RemoveDirectory(const std::string& path) {
#ifdef _WIN32
        _rmdir(path.c_str());
#else
        rmdir(path.c_str());
#endif
    }
    static void UnsetVariable() {
#ifdef _WIN32
        _putenv((std::string(kVariable) + "=").c_str());
#else
        unsetenv(kVariable);
#endif
    }

    std::string path_;
    std::string previous_;
    bool hadPrevious_ = false;
};

inline std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool PathExists(const std::string& path) {
#ifdef _WIN32
    return _access(path.c_str(), 0) == 0;
#else
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
#endif
}

inline void WriteWholeFile(const std::string& path, const std::string& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
}
