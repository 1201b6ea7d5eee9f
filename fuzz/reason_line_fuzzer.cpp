// The server's reason as shown: valid UTF-8 (checked by iconv, not by the code under test), no control characters
// or direction marks, at most 200 characters, no blank at either end, taken in order from the first line of the
// input, and unchanged when cleaned again.
#include "fuzz_support.h"
#include "net/list_server_client.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <iconv.h>

namespace {

using tamberly::fuzz::require;
using tamberly::fuzz::shown;

// The characters of text as UTF-32, or false when iconv finds it is not valid UTF-8.
bool decode(const std::string& text, std::vector<char32_t>& out) {
    iconv_t cd = iconv_open("UTF-32LE", "UTF-8");
    require(cd != reinterpret_cast<iconv_t>(static_cast<std::intptr_t>(-1)), "iconv knows UTF-8");
    std::string in = text;
    out.assign(text.size() + 1, 0);
    char* from = in.data();
    std::size_t left = in.size();
    char* to = reinterpret_cast<char*>(out.data());
    std::size_t room = out.size() * sizeof(char32_t);
    const std::size_t done = iconv(cd, &from, &left, &to, &room);
    iconv_close(cd);
    out.resize(out.size() - room / sizeof(char32_t));
    return done != static_cast<std::size_t>(-1) && left == 0;
}

bool isSubsequence(const std::string& part, const std::string& whole) {
    std::size_t at = 0;
    for (const char c : part) {
        at = whole.find(c, at);
        if (at == std::string::npos)
            return false;
        ++at;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::string line = tamberly::serverReasonLine(input);
    const auto why = [&] { return shown(input) + " -> " + shown(line); };

    std::vector<char32_t> characters;
    require(decode(line, characters), "the line is valid UTF-8", why);
    require(characters.size() <= tamberly::kMaxReasonCharacters, "at most 200 characters", why);
    for (const char32_t c : characters) {
        const bool control = c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x061C || c == 0x200E || c == 0x200F ||
                             (c >= 0x2028 && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
        require(!control, "no control characters or direction marks", why);
    }
    require(line.empty() || (line.front() != ' ' && line.back() != ' '), "no blank at either end", why);
    require(isSubsequence(line, input.substr(0, input.find_first_of("\r\n"))), "taken from the first line", why);
    require(tamberly::serverReasonLine(line) == line, "cleaning again changes nothing", why);
    return 0;
}
