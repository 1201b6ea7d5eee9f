#pragma once

// gzip answers for the transfer tests: a list compressed as a server sends it, and a small answer that expands
// to a huge one.

#include <zlib.h>

#include <cstddef>
#include <stdexcept>
#include <string>

namespace tamberly::test {

namespace detail {

/// Runs the raw deflater over input (nothing for none) with flush, and returns what it wrote.
inline std::string deflateStep(z_stream& stream, const std::string* input, int flush) {
    std::string out;
    char buffer[1 << 16];
    stream.next_in = input ? reinterpret_cast<Bytef*>(const_cast<char*>(input->data())) : nullptr;
    stream.avail_in = input ? static_cast<uInt>(input->size()) : 0;
    do {
        stream.next_out = reinterpret_cast<Bytef*>(buffer);
        stream.avail_out = sizeof buffer;
        if (deflate(&stream, flush) == Z_STREAM_ERROR)
            throw std::runtime_error("deflate failed");
        out.append(buffer, sizeof buffer - stream.avail_out);
    } while (stream.avail_out == 0);
    return out;
}

inline void appendLittleEndian(std::string& out, unsigned long value) {
    for (int i = 0; i < 4; ++i)
        out += static_cast<char>((value >> (8 * i)) & 0xff);
}

} // namespace detail

/// `count` times the same `piece` of text in gzip's format, without compressing it `count` times: the piece is
/// deflated once with a full flush, which makes its compressed form repeatable, and that form is repeated. A piece
/// of one MiB of one byte shrinks about a thousandfold, so 1024 of them are a gzip of 1 MiB that expands to 1 GiB.
inline std::string gzipRepeated(const std::string& piece, std::size_t count) {
    z_stream stream{};
    if (deflateInit2(&stream, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2 failed");
    const std::string block = detail::deflateStep(stream, &piece, Z_FULL_FLUSH);
    const std::string end = detail::deflateStep(stream, nullptr, Z_FINISH);
    deflateEnd(&stream);

    std::string gzip("\x1f\x8b\x08\0\0\0\0\0\0\xff", 10);
    const uLong pieceCrc = crc32(0, reinterpret_cast<const Bytef*>(piece.data()), static_cast<uInt>(piece.size()));
    uLong crc = crc32(0, nullptr, 0);
    for (std::size_t i = 0; i < count; ++i) {
        gzip += block;
        crc = crc32_combine(crc, pieceCrc, static_cast<z_off_t>(piece.size()));
    }
    gzip += end;
    detail::appendLittleEndian(gzip, crc);
    detail::appendLittleEndian(gzip, static_cast<unsigned long>((piece.size() * count) & 0xffffffffu));
    return gzip;
}

/// text in gzip's format.
inline std::string gzipped(const std::string& text) {
    return gzipRepeated(text, 1);
}

/// text in HTTP's "deflate" coding (the zlib format).
inline std::string deflated(const std::string& text) {
    uLongf size = compressBound(static_cast<uLong>(text.size()));
    std::string out(size, '\0');
    if (compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(text.data()),
                  static_cast<uLong>(text.size()), 9) != Z_OK)
        throw std::runtime_error("compress2 failed");
    out.resize(size);
    return out;
}

} // namespace tamberly::test
