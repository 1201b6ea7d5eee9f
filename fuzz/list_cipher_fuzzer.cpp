// The list cipher against its closed form: the output symbol for text symbol p under key symbol q is the alphabet's
// symbol (q - p) mod 97; a key symbol outside the alphabet drops the text symbol under it, a text byte outside the
// alphabet passes through, an empty key gives the empty text. Under a key over the alphabet the output keeps the
// text's length and undoes itself.
#include "fuzz_support.h"
#include "core/list_cipher.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

using tamberly::fuzz::require;
using tamberly::fuzz::shown;

// Written out afresh here, with CR, LF and the double quote appended, so the target does not trust the library's.
const std::string kAlphabet =
    std::string("8x3p5BeabcdfghijklmnoqrstuvwyzACDEFGHIJKLMNOPQRSTUVWXYZ 1246790-.#/\\!@$<>&*()[]{}';:,?=+~`^|%_") +
    "\r\n\"";

std::string closedForm(const std::string& text, const std::string& key) {
    if (key.empty())
        return {};
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::size_t p = kAlphabet.find(text[i]);
        const std::size_t q = kAlphabet.find(key[i % key.size()]);
        if (p == std::string::npos)
            out += text[i];
        else if (q != std::string::npos)
            out += kAlphabet[(q + 97 - p) % 97];
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    require(kAlphabet.size() == 97 && tamberly::ListCipher::alphabet() == kAlphabet, "the alphabet is the 97 symbols");

    FuzzedDataProvider input(data, size);
    const std::string key = input.ConsumeRandomLengthString(32);
    const std::string text = input.ConsumeRemainingBytesAsString();

    const std::string scrambled = tamberly::ListCipher(key).apply(text);
    require(scrambled == closedForm(text, key), "the cipher agrees with the closed form",
            [&] { return "key " + shown(key) + " text " + shown(text) + " gave " + shown(scrambled); });

    if (!key.empty() && key.find_first_not_of(kAlphabet) == std::string::npos) {
        require(scrambled.size() == text.size(), "a key over the alphabet keeps the length");
        require(tamberly::ListCipher(key).apply(scrambled) == text,
                "the cipher twice with the same key gives the text back");
    }
    return 0;
}
