// Helpers shared by the dispatch, the body readers and writers and the
// printer. Not part of the public interface.
#ifndef INKORA_NIBLINE_SERIAL_PRIVATE_H
#define INKORA_NIBLINE_SERIAL_PRIVATE_H

#include "inkora-debug-scope.hpp"
#include "inkora-debug.h"
#include "inkora-nibline-serial.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace inkora::serial {

// Flags shared between threads are plain integers in the C record; every
// access from this module goes through these, so that the threads agree on
// them without a lock.
template <typename T>
inline T load_flag(const T* flag) noexcept {
    return __atomic_load_n(flag, __ATOMIC_ACQUIRE);
}
template <typename T>
inline void store_flag(T* flag, T value) noexcept {
    __atomic_store_n(flag, value, __ATOMIC_RELEASE);
}

// Largest number of bulk reports a peer can put in one message: every report
// takes at least five bytes (identifier and length), and a whole message,
// with its header, path length, success byte and count, fits the
// 4096-byte buffer that both ends send from.
constexpr uint32_t max_bulk_reports =
    (INKORA_SERIAL_SEND_BUFFER_LEN - INKORA_SERIAL_HEADER_LEN - 4u - 1u - 4u) / 5u;

// The type code of a record as a plain number. A record may hold any code
// (the C record's field is an enumeration, but C callers and received bytes
// put any value there), so the field is read as raw memory, never as an
// enumeration value that might lie outside the enumeration's range.
inline uint32_t message_type(const inkora_messages& message) noexcept {
    uint32_t type = 0;
    static_assert(sizeof(message.common.message_id) == sizeof(type));
    std::memcpy(&type, &message.common.message_id, sizeof(type));
    return type;
}

// Big-endian integers of a body.
inline uint16_t get_be16(const uint8_t* p) noexcept {
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}
inline uint32_t get_be32(const uint8_t* p) noexcept {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

// Encodes one message into a fixed buffer. Each append checks the room left;
// once anything did not fit the encoder stays failed and the message must
// not be written.
class Encoder {
public:
    explicit Encoder(std::span<uint8_t> buffer) noexcept : buffer_(buffer) {}

    void u8(uint8_t value) noexcept {
        if (reserve(1)) {
            buffer_[length_++] = value;
        }
    }
    void be16(uint16_t value) noexcept {
        if (reserve(2)) {
            buffer_[length_++] = static_cast<uint8_t>(value >> 8);
            buffer_[length_++] = static_cast<uint8_t>(value);
        }
    }
    void be32(uint32_t value) noexcept {
        if (reserve(4)) {
            buffer_[length_++] = static_cast<uint8_t>(value >> 24);
            buffer_[length_++] = static_cast<uint8_t>(value >> 16);
            buffer_[length_++] = static_cast<uint8_t>(value >> 8);
            buffer_[length_++] = static_cast<uint8_t>(value);
        }
    }
    void le32(uint32_t value) noexcept {
        if (reserve(4)) {
            buffer_[length_++] = static_cast<uint8_t>(value);
            buffer_[length_++] = static_cast<uint8_t>(value >> 8);
            buffer_[length_++] = static_cast<uint8_t>(value >> 16);
            buffer_[length_++] = static_cast<uint8_t>(value >> 24);
        }
    }
    // A length-prefixed field: the length big-endian, then exactly that many
    // bytes. A record that claims bytes it does not hold cannot be encoded.
    void field(uint32_t length, const void* bytes) noexcept {
        be32(length);
        raw(length, bytes);
    }
    void raw(uint32_t length, const void* bytes) noexcept {
        if (length == 0) {
            return;
        }
        if (bytes == nullptr) {
            missing_ = true;
            return;
        }
        if (reserve(length)) {
            std::memcpy(buffer_.data() + length_, bytes, length);
            length_ += length;
        }
    }

    // The record points at nothing where it claims entries (a device or
    // report array): it cannot be encoded.
    void mark_missing() noexcept { missing_ = true; }

    [[nodiscard]] bool overflowed() const noexcept { return overflow_; }
    [[nodiscard]] bool missing() const noexcept { return missing_; }
    [[nodiscard]] uint32_t length() const noexcept { return static_cast<uint32_t>(length_); }
    // Bytes the message needed, counted up to the first field that did not fit.
    [[nodiscard]] uint64_t needed() const noexcept { return needed_; }

private:
    bool reserve(uint64_t count) noexcept {
        needed_ = (overflow_ ? needed_ : length_) + count;
        if (overflow_ || count > buffer_.size() - length_) {
            overflow_ = true;
            return false;
        }
        return true;
    }
    std::span<uint8_t> buffer_;
    size_t length_ = 0;
    uint64_t needed_ = 0;
    bool overflow_ = false;
    bool missing_ = false;
};

// Appends the body of message (type 1..21) to the encoder. Defined beside the
// body readers.
void encode_body(Encoder& encoder, const inkora_messages& message) noexcept;

} // namespace inkora::serial

#endif // INKORA_NIBLINE_SERIAL_PRIVATE_H
