// Writes the settings file or the registry file in a loop, as the program does, so that tests can kill it at any
// moment or run two of it at once and then check what the files hold.
//
//   settings_writer sequence ini|registry FILE FIRST
//       stores sequenceValue(FIRST), sequenceValue(FIRST + 1), ... until killed; after each write has returned,
//       prints its step number on a line of its own.
//   settings_writer race ini|registry FILE TAG COUNT
//       waits for one byte (or the end) on its standard input, then stores COUNT values of its own, named
//       raceName(TAG, i), and exits.

#include "platform/linux/registry_file.h"
#include "settings_writer.h"
#include "storage/ini_file.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include <sys/prctl.h>
#include <unistd.h>

namespace {

using namespace tamberly;
using namespace tamberly::test;

[[noreturn]] void fail(const std::string& why) {
    std::fprintf(stderr, "settings_writer: %s\n", why.c_str());
    std::exit(2);
}

void store(bool ini, const std::string& file, const std::string& section, const std::string& name,
           const std::string& value) {
    if (ini) {
        std::string why;
        if (!WriteINI(section, name, value, file, why))
            fail(why);
        return;
    }
    RegistryFile(file).RegWrite(std::string(kRegistryKey) + "\\" + name, value, "REG_SZ");
}

// Unbuffered, so a kill never leaves a completed step unprinted for longer than one write call.
void printStep(long n) {
    const std::string line = std::to_string(n) + "\n";
    if (::write(STDOUT_FILENO, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
        fail("cannot report progress");
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 5)
        fail("usage: settings_writer sequence|race ini|registry FILE ...");
    const std::string mode = argv[1];
    const bool ini = std::strcmp(argv[2], "ini") == 0;
    const std::string file = argv[3];
    // Never outlive a test that died without killing it.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    try {
        if (mode == "sequence") {
            for (long n = std::atol(argv[4]);; ++n) {
                store(ini, file, kWriterSection, ini ? kWriterKey : "ProxyServer", sequenceValue(n));
                printStep(n);
            }
        }
        if (mode == "race" && argc == 6) {
            const std::string tag = argv[4];
            const int count = std::atoi(argv[5]);
            char go;
            if (::read(STDIN_FILENO, &go, 1) < 0)
                fail("cannot wait for the start");
            for (int i = 0; i < count; ++i)
                store(ini, file, kRaceSection, raceName(tag, i), raceValue(tag, i));
            return 0;
        }
    } catch (const std::exception& e) {
        fail(e.what());
    }
    fail("unknown mode " + mode);
}
