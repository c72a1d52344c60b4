#include "support/XAlarm.h"

#include <cstring>
#include <utility>

namespace qor {

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
    : category_(other.category_), message_(other.message_), detail_(CopyOf(other.Detail())) {}

XAlarm& XAlarm::operator=(XAlarm other) noexcept {
    category_ = other.category_;
    message_ = other.message_;
    detail_ = std::move(other.detail_);
    return *this;
}

}  // namespace qor
