#pragma once
// The main window as the window tests start it: shown and exposed.
#include "MainForm.h"

#include <QTest>

#include <gtest/gtest.h>

#include <memory>

inline std::unique_ptr<TMainWin> ShowMainWindow()
{
    auto window = std::make_unique<TMainWin>();
    window->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    return window;
}
