#include "core/list_cipher.h"

#include <array>
#include <cstdint>
#include <vector>

namespace tamberly {
namespace {

constexpr int kSymbols = 97;
constexpr char kAlphabet[] =
    "8x3p5BeabcdfghijklmnoqrstuvwyzACDEFGHIJKLMNOPQRSTUVWXYZ 1246790-.#/\\!@$<>&*()[]{}';:,?=+~`^|%_"
    "\r\n\"";
static_assert(sizeof kAlphabet - 1 == kSymbols);

constexpr int kAbsent = -1;

// Alphabet position (0-based) of every byte; kAbsent for bytes outside the alphabet.
constexpr std::array<int, 256> makePositions() {
    std::array<int, 256> positions{};
    for (auto& p : positions)
        p = kAbsent;
    for (int i = 0; i < kSymbols; ++i)
        positions[static_cast<unsigned char>(kAlphabet[i])] = i;
    return positions;
}
constexpr std::array<int, 256> kPositions = makePositions();

constexpr std::size_t kMapBytes = kSymbols * 256;

// Row q * 256 + b is the whole substitution for key symbol q: the text symbol at position p becomes the symbol at
// (q - p) mod 97, which is what the first matching row of the rotation table yields (the closed form). Bytes
// outside the alphabet map to themselves.
constexpr std::array<unsigned char, kMapBytes> makeMaps() {
    std::array<unsigned char, kMapBytes> maps{};
    for (int q = 0; q < kSymbols; ++q) {
        for (int b = 0; b < 256; ++b) {
            const int p = kPositions[static_cast<std::size_t>(b)];
            maps[static_cast<std::size_t>(q * 256 + b)] =
                p == kAbsent ? static_cast<unsigned char>(b)
                             : static_cast<unsigned char>(kAlphabet[(q - p + kSymbols) % kSymbols]);
        }
    }
    return maps;
}
constexpr std::array<unsigned char, kMapBytes> kMaps = makeMaps();

// One key period of L bytes per step; with L known at compile time the row offsets stay in registers.
template <std::size_t L>
std::size_t substitutePeriods(const unsigned char* in, unsigned char* out, std::size_t n, const std::uint32_t* rows) {
    const unsigned char* const maps = kMaps.data();
    std::uint32_t r[L];
    for (std::size_t k = 0; k < L; ++k)
        r[k] = rows[k];
    std::size_t i = 0;
    for (; n - i >= L; i += L)
#pragma GCC unroll 8
        for (std::size_t k = 0; k < L; ++k)
            out[i + k] = maps[r[k] + in[i + k]];
    return i;
}

std::size_t substitutePeriods(const unsigned char* in, unsigned char* out, std::size_t n, const std::uint32_t* rows,
                              std::size_t keyLength) {
    switch (keyLength) {
    case 1:
        return substitutePeriods<1>(in, out, n, rows);
    case 2:
        return substitutePeriods<2>(in, out, n, rows);
    case 3:
        return substitutePeriods<3>(in, out, n, rows);
    case 4:
        return substitutePeriods<4>(in, out, n, rows);
    case 5:
        return substitutePeriods<5>(in, out, n, rows);
    case 6:
        return substitutePeriods<6>(in, out, n, rows);
    case 7:
        return substitutePeriods<7>(in, out, n, rows);
    case 8:
        return substitutePeriods<8>(in, out, n, rows);
    default:
        break;
    }
    const unsigned char* const maps = kMaps.data();
    std::size_t i = 0;
    for (; n - i >= keyLength; i += keyLength)
        for (std::size_t k = 0; k < keyLength; ++k)
            out[i + k] = maps[rows[k] + in[i + k]];
    return i;
}

} // namespace

ListCipher::ListCipher(std::string key) : m_key(std::move(key)) {}

std::string_view ListCipher::alphabet() {
    return {kAlphabet, kSymbols};
}

std::string ListCipher::apply(std::string_view text) const {
    // An empty key matches no row of the table, so nothing is ever appended.
    if (m_key.empty())
        return {};

    const std::size_t keyLength = m_key.size();
    bool keyValid = true;
    for (char k : m_key)
        keyValid = keyValid && kPositions[static_cast<unsigned char>(k)] != kAbsent;

    if (keyValid) {
        // Every key symbol is in the alphabet: the output has the text's length, one table lookup per byte.
        std::vector<std::uint32_t> rows(keyLength);
        for (std::size_t k = 0; k < keyLength; ++k)
            rows[k] = static_cast<std::uint32_t>(kPositions[static_cast<unsigned char>(m_key[k])]) * 256u;
        std::string result(text.size(), '\0');
        const auto* in = reinterpret_cast<const unsigned char*>(text.data());
        auto* out = reinterpret_cast<unsigned char*>(result.data());
        const unsigned char* const maps = kMaps.data();
        const std::uint32_t* const row = rows.data();
        const std::size_t n = text.size();
        // Whole key periods first, so the inner loop needs no wrap-around test; then the rest of a period.
        std::size_t i = substitutePeriods(in, out, n, row, keyLength);
        for (std::size_t k = 0; i < n; ++i, ++k)
            out[i] = maps[row[k] + in[i]];
        return result;
    }

    // A key symbol outside the alphabet matches no row: the text symbol under it is dropped, though the key
    // still advances. Bytes outside the alphabet pass through whatever the key symbol.
    std::string result;
    result.reserve(text.size());
    std::size_t k = 0;
    for (char c : text) {
        const auto b = static_cast<unsigned char>(c);
        const int q = kPositions[static_cast<unsigned char>(m_key[k])];
        if (q != kAbsent)
            result.push_back(static_cast<char>(kMaps[static_cast<std::size_t>(q) * 256 + b]));
        else if (kPositions[b] == kAbsent)
            result.push_back(c);
        if (++k == keyLength)
            k = 0;
    }
    return result;
}

} // namespace tamberly
