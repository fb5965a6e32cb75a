#pragma once

#include "nstools.h"
#include "testsupport.h"

namespace NsTools {
inline void noTestMainStep() {}
} // namespace NsTools

// The test main of a suite that, when root, runs again in network and mount
// namespaces of its own (see reexecInPrivateNamespaces); where they cannot be
// had it runs as it is and the cases that need them skip.
// AppClass is QApplication or QCoreApplication; prepare() runs once the
// application exists, before the settings are set up, finish() after the last
// test (both plain functions without arguments).
#define OSTREL_NAMESPACED_TEST_MAIN_WITH(AppClass, TestObject, prepare, finish)                     \
    int main(int argc, char* argv[])                                                               \
    {                                                                                              \
        NsTools::reexecInPrivateNamespaces(argc, argv);                                            \
        AppClass app(argc, argv);                                                                  \
        prepare();                                                                                 \
        TestSupport::initApplication();                                                            \
        TestObject tc;                                                                             \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        const int result = QTest::qExec(&tc, argc, argv);                                          \
        finish();                                                                                  \
        return result;                                                                             \
    }

#define OSTREL_NAMESPACED_TEST_MAIN(TestObject)                                                    \
    OSTREL_NAMESPACED_TEST_MAIN_WITH(QApplication, TestObject, NsTools::noTestMainStep,             \
                                     NsTools::noTestMainStep)

#define OSTREL_NAMESPACED_TEST_MAIN_CORE(TestObject)                                               \
    OSTREL_NAMESPACED_TEST_MAIN_WITH(QCoreApplication, TestObject, NsTools::noTestMainStep,         \
                                     NsTools::noTestMainStep)
