// Base of the widget tests: a QApplication for the duration of one test, unless the program
// already has one. Widgets made inside the test body are gone before it ends. Without a display
// (a plain run from a shell) the offscreen platform is used.
#pragma once

#include "support/QtWait.h"

#include <QApplication>
#include <gtest/gtest.h>
#include <memory>

class QtAppTest : public ::testing::Test {
protected:
    QtAppTest() {
        if (QApplication::instance())
            return;
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        m_app = std::make_unique<QApplication>(m_argc, m_argv);
    }

private:
    int m_argc = 1;
    char m_name[8] = "test_ui";
    char* m_argv[2] = {m_name, nullptr};
    std::unique_ptr<QApplication> m_app;
};
