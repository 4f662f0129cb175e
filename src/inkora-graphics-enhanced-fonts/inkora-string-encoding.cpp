// Conversion of text in a named character encoding into code points, through
// ICU's converters.

#include <unicode/ucnv.h>

#include <cstdint>
#include <cstdlib>
#include <memory>

#include "inkora-graphics-enhanced-fonts.h"

namespace {

struct ConverterCloser {
    void operator()(UConverter* c) const { ucnv_close(c); }
};
using Converter = std::unique_ptr<UConverter, ConverterCloser>;

struct Freer {
    void operator()(UChar32* p) const { std::free(p); }
};

// Walks the text once from its start, handing every code point before the
// first 0 to take. Returns false when the converter reports anything but
// plain success (a warning counts as a failure too).
template <typename Take>
bool walk(UConverter* converter, const char* bytes, uint32_t byte_count, Take take) {
    // Each pass starts from the converter's initial state, so that a stateful
    // encoding (ISO-2022, ...) reads the same code points both times.
    ucnv_resetToUnicode(converter);
    const char* source = bytes;
    const char* const limit = bytes + byte_count;
    while (source < limit) {
        UErrorCode status = U_ZERO_ERROR;
        const UChar32 c = ucnv_getNextUChar(converter, &source, limit, &status);
        if (status != U_ZERO_ERROR) {
            return false;
        }
        if (c == 0) {
            break;
        }
        if (!take(c)) {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" UChar32* parse_string_encoding(const char* bytes, uint32_t byte_count, const char* encoding,
                                          uint32_t* out_count) {
    if ((bytes == nullptr && byte_count != 0) || encoding == nullptr || out_count == nullptr) {
        return nullptr;
    }
    UErrorCode status = U_ZERO_ERROR;
    // An alias that names several converters only warns; ICU then picks its
    // standard one, which converts correctly, so only real failures count.
    Converter converter(ucnv_open(encoding, &status));
    if (U_FAILURE(status) || !converter) {
        return nullptr;
    }

    uint32_t count = 0;
    if (!walk(converter.get(), bytes, byte_count, [&](UChar32) {
            ++count;
            return true;
        })) {
        return nullptr;
    }

    std::unique_ptr<UChar32, Freer> text(static_cast<UChar32*>(std::calloc(static_cast<size_t>(count) + 1,
                                                                            sizeof(UChar32))));
    if (!text) {
        return nullptr;
    }
    uint32_t stored = 0;
    if (!walk(converter.get(), bytes, byte_count, [&](UChar32 c) {
            if (stored == count) {
                return false;  // the passes disagree: never write past the array
            }
            text.get()[stored++] = c;
            return true;
        }) ||
        stored != count) {
        return nullptr;
    }
    *out_count = count;
    return text.release();
}
