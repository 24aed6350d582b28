// Qt widgets on the shared X session: one QApplication per test process on its display.
#pragma once

#include "X11/X11TestSupport.h"

#include <QApplication>

namespace vantrel::test {

/// An X11KeyboardTest whose process has a QApplication on the session's
/// display, made by the first test after `beforeQt` prepared the display.
class QtOnX11Test : public X11KeyboardTest {
protected:
    void prepare() override
    {
        X11KeyboardTest::prepare();
        if (!ready())
            return;
        static QApplication* app = [this]() -> QApplication* {
            if (!beforeQt())
                return nullptr;
            qputenv("DISPLAY", QByteArray::fromStdString(session->display()));
            qputenv("QT_QPA_PLATFORM", "xcb");
            static int argc = 1;
            static char name[] = "vantrel-test";
            static char* argv[] = {name, nullptr};
            return new QApplication(argc, argv);
        }();
        ASSERT_TRUE(app) << "Qt on the test display";
    }
    /// Runs once, before the application connects; false when it failed.
    virtual bool beforeQt() { return true; }

    /// Runs Qt's events and the backend's jobs until `done` holds.
    bool pump(const std::function<bool()>& done, std::chrono::milliseconds timeout = std::chrono::seconds(5))
    {
        return pumpUntil(loop, [&] {
            QCoreApplication::processEvents();
            return done();
        }, timeout);
    }
};

} // namespace vantrel::test
