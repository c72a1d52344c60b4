#pragma once
#include <cstdint>

namespace qor {

// Bounds on what one Parse may add to the results; 0 leaves a bound off.
struct ParseLimits {
    uint32_t maxFileBytes = 0;  // data bytes of any one stored file
    uint32_t maxFiles = 0;      // files stored
    uint32_t maxParts = 0;      // values added: URL-encoded pairs, multipart text and file parts
};

// Raised by Parse the moment a body would go past a bound, before the part
// that breaks it stores anything; the parse takes back what it added, as for
// any other exception.
class ParseLimitExceeded {
public:
    enum class Limit { FileBytes, Files, Parts };

    ParseLimitExceeded(Limit limit, uint32_t value) noexcept : limit_(limit), value_(value) {}

    Limit Which() const noexcept { return limit_; }
    // The bound as it was set.
    uint32_t Value() const noexcept { return value_; }

private:
    Limit limit_;
    uint32_t value_;
};

}  // namespace qor
