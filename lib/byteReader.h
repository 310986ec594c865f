// Little-endian fields of a binary file held in memory, read in order and
// never past the end. Every binary reader (models, wpab lexicons, training
// accumulators) reads through it and says in its own words what a short read
// means: the handler gets the bytes asked for and those left, and reports the
// error (it must not return).
#pragma once

#include "run/utility.h"

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>

class byteReaderClass {
public:
    using shortReadHandler = std::function<void(size_t wanted, size_t left)>;

    // Reads bytes[pos .. size - 1]; the bytes must outlive the reader.
    byteReaderClass(std::string_view bytes, shortReadHandler shortRead, size_t pos = 0)
        : m_bytes(bytes), m_shortRead(std::move(shortRead)), m_pos(pos > bytes.size() ? bytes.size() : pos),
          m_end(bytes.size()) {}

    size_t left() const { return m_end - m_pos; }
    size_t position() const { return m_pos; }
    // Reads stop at end (at most the size of the bytes, at least the position).
    void setEnd(size_t end) { m_end = end > m_bytes.size() ? m_bytes.size() : (end < m_pos ? m_pos : end); }

    // Calls the handler when fewer than n bytes are left.
    void need(size_t n) const {
        if (n <= left()) return;
        m_shortRead(n, left());
        reportError(formatString("Error: a read of %zu bytes with %zu left (line %d of %s)", n, left(), __LINE__,
                                 __FILE__));
    }

    uint32_t u32() {
        need(4);
        const unsigned char* p = bytesAt(4);
        return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
               (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
    }
    int32_t i32() { return static_cast<int32_t>(u32()); }
    uint64_t u64() {
        need(8);
        const uint64_t low = u32();
        return low | (static_cast<uint64_t>(u32()) << 32);
    }
    int64_t i64() { return static_cast<int64_t>(u64()); }
    float f32() {
        const uint32_t w = u32();
        float f;
        std::memcpy(&f, &w, 4);
        return f;
    }
    // The next n bytes as they are.
    std::string_view take(size_t n) {
        need(n);
        std::string_view v = m_bytes.substr(m_pos, n);
        m_pos += n;
        return v;
    }

private:
    const unsigned char* bytesAt(size_t n) {
        const unsigned char* p = reinterpret_cast<const unsigned char*>(m_bytes.data()) + m_pos;
        m_pos += n;
        return p;
    }

    std::string_view m_bytes;
    shortReadHandler m_shortRead;
    size_t m_pos;
    size_t m_end;
};
