// Percent-encoding of a query value: the output holds only letters, digits, "-", ".", "_", "~", ":" and %XX with
// upper-case hex digits; exactly the other bytes are encoded; decoding gives the input back.
#include "fuzz_support.h"
#include "net/list_server_client.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

using tamberly::fuzz::require;
using tamberly::fuzz::shown;

bool unreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_' || c == '~' || c == ':';
}

int upperHex(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::string encoded = tamberly::encodeQueryValue(input);

    std::string decoded;
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        const auto c = static_cast<unsigned char>(encoded[i]);
        if (c != '%') {
            require(unreserved(c), "only unreserved characters go unencoded", [&] { return shown(encoded); });
            decoded += static_cast<char>(c);
            continue;
        }
        require(i + 2 < encoded.size() && upperHex(encoded[i + 1]) >= 0 && upperHex(encoded[i + 2]) >= 0,
                "every % is followed by two upper-case hex digits", [&] { return shown(encoded); });
        const auto byte = static_cast<unsigned char>(upperHex(encoded[i + 1]) * 16 + upperHex(encoded[i + 2]));
        require(!unreserved(byte), "unreserved characters are never encoded", [&] { return shown(encoded); });
        decoded += static_cast<char>(byte);
        i += 2;
    }
    require(decoded == input, "decoding gives the input back", [&] { return shown(input) + " -> " + shown(encoded); });
    return 0;
}
