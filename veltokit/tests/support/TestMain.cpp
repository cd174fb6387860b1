// Test entry point: refuses to run where a real network could see the tests' datagrams.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "support/NetworkGuard.h"
#include "velto/Diagnostics.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (!GTEST_FLAG_GET(list_tests)) {
        const std::string foreign = velto::test::foreignNetworkInterface();
        if (!foreign.empty()) {
            std::fprintf(stderr,
                         "Refusing to run: interface %s is on a real network. These tests open "
                         "sockets on fixed ports and run only in a private network namespace "
                         "(scripts/test.sh, or `unshare --net` with loopback up).\n",
                         foreign.c_str());
            return 2;
        }
    }
    velto::setDiagnosticsEnabled(false);
    return RUN_ALL_TESTS();
}
