// The main of test programs whose processes talk through abstract unix sockets: the tests run
// in a network namespace of their own (tests/NetworkNamespace.h).
//
// It refuses to run the tests unisolated: a test that sent to a real service's slot could make
// it reload or run tasks.
#include "tests/NetworkNamespace.h"

#include <cstdio>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    const std::string failure = tarvok::testing_support::EnterOwnNetworkNamespace();
    if (!failure.empty()) {
        std::fprintf(stderr, "cannot isolate the tests in a network namespace of their own: %s\n",
                     failure.c_str());
        return 1;
    }
    testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
