#pragma once

#include "openvpnserverfixture.h"
#include "testsupport.h"

// Engine suites run in a private network namespace when root: tun devices,
// loopback traffic and /run then belong to the test alone.
#define OSTREL_ENGINE_TEST_MAIN(TestObject)                                                        \
    int main(int argc, char* argv[])                                                               \
    {                                                                                              \
        OpenVpnFixture::enterPrivateNetworkNamespace(argc, argv, OpenVpnFixture::scriptsDir());    \
        QCoreApplication app(argc, argv);                                                          \
        TestSupport::initApplication();                                                            \
        TestObject tc;                                                                             \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&tc, argc, argv);                                                      \
    }
