#include "XAlarm.h"

#include <cstring>
#include <utility>

char* XAlarm::CopyOf(const char* text) {
    if (text == nullptr) return nullptr;
    const size_t size = std::strlen(text) + 1;
    char* copy = new char[size];
    std::memcpy(copy, text, size);
    return copy;
}

XAlarm::XAlarm(const char* category, const char* message, const char* detail)
    : category_(category), message_(message), detail_(CopyOf(detail)) {}

XAlarm::XAlarm(const XAlarm& other)
    : category_(other.category_), message_(other.message_), detail_(CopyOf(other.detail_)) {}

XAlarm::XAlarm(XAlarm&& other) noexcept
    : category_(other.category_), message_(other.message_), detail_(std::exchange(other.detail_, nullptr)) {}

XAlarm& XAlarm::operator=(XAlarm other) noexcept {
    std::swap(category_, other.category_);
    std::swap(message_, other.message_);
    std::swap(detail_, other.detail_);
    return *this;
}

XAlarm::~XAlarm() { delete[] detail_; }
