#include "platform/linux/path_search.h"

#include "text/ascii_text.h"

#include <cstdlib>

#include <sys/stat.h>
#include <unistd.h>

namespace tamberly {
namespace {

bool isExecutableFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

} // namespace

std::string findOnPath(const std::string& program) {
    if (program.empty())
        return {};
    if (program.find('/') != std::string::npos)
        return program[0] == '/' && isExecutableFile(program) ? program : std::string();
    const char* value = std::getenv("PATH");
    for (const std::string_view folder : splitList(value ? value : "/usr/local/bin:/usr/bin:/bin", ':')) {
        // Only absolute folders: the answer must name the same program whatever the working folder.
        if (folder.empty() || folder[0] != '/')
            continue;
        std::string candidate = std::string(folder) + "/" + program;
        if (isExecutableFile(candidate))
            return candidate;
    }
    return {};
}

} // namespace tamberly
