#pragma once

#include <string>

namespace tamberly::test {

/// What `unshare --net` and then `ip link set lo up` do, for this process and all it starts: a network of its own
/// where only loopback exists, so that nothing sent can leave the machine, not even a name look-up. Must run before
/// the process starts a thread. Returns the empty text, or why the network could not be made.
std::string isolateToLoopback();

/// In a test program whose main is loopback_test_main: the empty text when it runs on loopback only, else why not.
const std::string& loopbackIsolation();

} // namespace tamberly::test
