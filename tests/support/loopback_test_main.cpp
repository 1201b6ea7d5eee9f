// main() for test programs that run in a network of their own with loopback only (see isolateToLoopback).
#include "support/loopback_network.h"

#include <gtest/gtest.h>

namespace tamberly::test {
namespace {
std::string g_isolation = "not isolated";
} // namespace

const std::string& loopbackIsolation() {
    return g_isolation;
}

} // namespace tamberly::test

int main(int argc, char* argv[]) {
    tamberly::test::g_isolation = tamberly::test::isolateToLoopback();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
