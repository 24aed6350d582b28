// One QApplication for a test process, made on first use on `platform` and deleted after the last test.
#pragma once

#include <QApplication>

#include <gtest/gtest.h>

#include <cstdio>

namespace vantrel::test {

inline void ensureQtApplication(const QByteArray& platform = "offscreen")
{
    struct Environment : ::testing::Environment {
        void TearDown() override { delete qApp; }
    };
    if (qApp)
        return;
    qputenv("QT_QPA_PLATFORM", platform);
    // The offscreen platform says so whenever it cannot raise or mask.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& message) {
        if (!message.startsWith(QLatin1String("This plugin does not support")))
            fprintf(stderr, "%s\n", qPrintable(message));
    });
    static int argc = 1;
    static char name[] = "vantrel-test";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);
    ::testing::AddGlobalTestEnvironment(new Environment);
}

} // namespace vantrel::test
