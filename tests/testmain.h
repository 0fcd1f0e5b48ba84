#pragma once
// The test classes of one folder share one program. QV_TEST_MAIN(Class) takes
// the place of QTEST_MAIN(Class) (QV_TEST_GUILESS_MAIN of
// QTEST_GUILESS_MAIN): it registers the class under its source's name
// ("tst_find" for tst_find.cpp), and the program runs the class its first
// argument names, with the same application object and the rest of the
// arguments for Qt Test: `qv_tests_editor tst_find -functions`.
#include <QTest>

namespace qvtest {

using TRunTests = int (*)(int argc, char **argv);

// Registers `run` under the base name of `sourcePath`; false if that name is
// already taken (the program then refuses to run any test).
bool RegisterTests(const char *sourcePath, TRunTests run);

}  // namespace qvtest

#define QV_TEST_MAIN_WITH(TestObject, ...)                                                       \
    namespace {                                                                                  \
    int RunTests##TestObject(int argc, char **argv) {                                            \
        QT_PREPEND_NAMESPACE(QTest::Internal::callInitMain)<TestObject>();                       \
        __VA_ARGS__                                                                              \
        TestObject tc;                                                                           \
        QTEST_SET_MAIN_SOURCE_PATH                                                               \
        return QTest::qExec(&tc, argc, argv);                                                    \
    }                                                                                            \
    [[maybe_unused]] const bool Registered##TestObject = qvtest::RegisterTests(__FILE__, RunTests##TestObject);   \
    }

#define QV_TEST_MAIN(TestObject) QV_TEST_MAIN_WITH(TestObject, QTEST_MAIN_SETUP())
#define QV_TEST_GUILESS_MAIN(TestObject) QV_TEST_MAIN_WITH(TestObject, QTEST_QAPP_SETUP(QCoreApplication))
