// One offscreen QApplication for a test process, made on first use and deleted after the last test.
#pragma once

#include <QApplication>

#include <gtest/gtest.h>

namespace vantrel::test {

inline void ensureQtApplication()
{
    struct Environment : ::testing::Environment {
        void TearDown() override { delete qApp; }
    };
    if (qApp)
        return;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "vantrel-test";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);
    ::testing::AddGlobalTestEnvironment(new Environment);
}

} // namespace vantrel::test
