// Writes the settings file or the proxy record in a loop, as the program does, so that tests can kill it at any
// moment or run two of it at once and then check what the files hold.
//
//   settings_writer sequence ini|record FILE FIRST
//       stores step FIRST, FIRST + 1, ... until killed (sequenceValue(n) in the settings file, sequenceServers(n)
//       put in force in the record); after each write has returned, prints its step number on a line of its own.
//   settings_writer race ini|record FILE TAG COUNT
//       waits for one byte (or the end) on its standard input, then makes COUNT writes of its own and exits: in the
//       settings file values named raceName(TAG, i); in the record writer A puts raceServers(i) in force and writer B
//       turns the proxy off.

#include "platform/linux/proxy_record_file.h"
#include "settings_writer.h"
#include "core/ini_file.h"

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

void storeIni(const std::string& file, const std::string& section, const std::string& name, const std::string& value) {
    std::string why;
    if (!IniFile::write(file, section, name, value, why))
        fail(why);
}

void record(const std::string& file, const ProxySetting& change) {
    if (const std::string why = ProxyRecordFile(file).write(change); !why.empty())
        fail(why);
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
        fail("usage: settings_writer sequence|race ini|record FILE ...");
    const std::string mode = argv[1];
    const bool ini = std::strcmp(argv[2], "ini") == 0;
    const std::string file = argv[3];
    // Never outlive a test that died without killing it.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    try {
        if (mode == "sequence") {
            for (long n = std::atol(argv[4]);; ++n) {
                if (ini)
                    storeIni(file, kWriterSection, kWriterKey, sequenceValue(n));
                else
                    record(file, ProxySetting::manual(sequenceServers(n)));
                printStep(n);
            }
        }
        if (mode == "race" && argc == 6) {
            const std::string tag = argv[4];
            const int count = std::atoi(argv[5]);
            char go;
            if (::read(STDIN_FILENO, &go, 1) < 0)
                fail("cannot wait for the start");
            for (int i = 0; i < count; ++i) {
                if (ini)
                    storeIni(file, kRaceSection, raceName(tag, i), raceValue(tag, i));
                else
                    record(file, tag == "A" ? ProxySetting::manual(raceServers(i)) : ProxySetting::off());
            }
            return 0;
        }
    } catch (const std::exception& e) {
        fail(e.what());
    }
    fail("unknown mode " + mode);
}
