#pragma once
// Test media for the file layer, installed through the runtime's seams for the
// life of one object: a write recorder that can also make writes fail, and a
// scripted sequence of temporary names.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/RuntimeFiles.h"

using namespace qor;

// Records every file write (descriptor and count) and passes it on. With a
// byte budget, the write that would exceed it writes only what fits and
// reports that short count, as a full disk or a file-size limit does.
class WriteRecorder {
public:
    struct Write {
        int fd;
        unsigned count;
        bool operator==(const Write&) const = default;
    };

    explicit WriteRecorder(long long budget = -1) : budget_(budget) {
        active_ = this;
        rt::seams.write = &Forward;
    }
    ~WriteRecorder() {
        rt::seams.write = nullptr;
        active_ = nullptr;
    }
    WriteRecorder(const WriteRecorder&) = delete;
    WriteRecorder& operator=(const WriteRecorder&) = delete;

    std::vector<Write> writes;

    // The counts written to one descriptor, in order.
    std::vector<unsigned> CountsFor(int fd) const {
        std::vector<unsigned> counts;
        for (const Write& w : writes)
            if (w.fd == fd) counts.push_back(w.count);
        return counts;
    }
    std::vector<unsigned> Counts() const {
        std::vector<unsigned> counts;
        for (const Write& w : writes) counts.push_back(w.count);
        return counts;
    }

private:
    static int Forward(int fd, const void* bytes, unsigned count) {
        WriteRecorder& self = *active_;
        self.writes.push_back({fd, count});
        unsigned allowed = count;
        if (self.budget_ >= 0 && static_cast<long long>(count) > self.budget_)
            allowed = static_cast<unsigned>(self.budget_);
        if (self.budget_ >= 0) self.budget_ -= allowed;
        if (allowed == 0 && count != 0) return -1;
        return rt::DirectWrite(fd, bytes, allowed);
    }

    static inline WriteRecorder* active_ = nullptr;
    long long budget_;
};

// Hands out the given names in order (a copy each, released by the caller
// with free), then null.
class ScriptedNames {
public:
    explicit ScriptedNames(std::vector<std::string> names) : names_(std::move(names)) {
        active_ = this;
        rt::seams.tempName = &Next;
    }
    ~ScriptedNames() {
        rt::seams.tempName = nullptr;
        active_ = nullptr;
    }
    ScriptedNames(const ScriptedNames&) = delete;
    ScriptedNames& operator=(const ScriptedNames&) = delete;

    size_t Used() const { return next_; }

private:
    static char* Next() {
        ScriptedNames& self = *active_;
        if (self.next_ == self.names_.size()) return nullptr;
        const std::string& name = self.names_[self.next_++];
        char* copy = static_cast<char*>(std::malloc(name.size() + 1));
        std::memcpy(copy, name.c_str(), name.size() + 1);
        return copy;
    }

    static inline ScriptedNames* active_ = nullptr;
    std::vector<std::string> names_;
    size_t next_ = 0;
};
