// The judge's plain answer and the grading over it: an answer read back from its own writing reads the same, and
// any answer grades against any text as an own address (the address spellings are read by hand).
#include "fuzz_support.h"
#include "net/check_grades.h"

#include <cstddef>
#include <cstdint>
#include <string>

using tamberly::fuzz::require;
using tamberly::fuzz::shown;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    tamberly::JudgeAnswer answer;
    if (!tamberly::parseJudgeAnswer(input, answer))
        return 0;
    const std::string written = tamberly::formatJudgeAnswer(answer);
    tamberly::JudgeAnswer again;
    require(tamberly::parseJudgeAnswer(written, again), "its own writing reads as an answer",
            [&] { return shown(input) + " -> " + shown(written); });
    require(again.clientAddress == answer.clientAddress && again.headers == answer.headers,
            "its own writing reads the same", [&] { return shown(input) + " -> " + shown(written); });
    // The client's own address is found in the answer that names it, whatever text it is.
    const bool named = tamberly::gradeAnonymity(answer, {answer.clientAddress}) == tamberly::Anonymity::Transparent;
    if (!answer.headers.empty())
        tamberly::gradeAnonymity(answer, {answer.headers.front().second});
    (void)named;
    return 0;
}
