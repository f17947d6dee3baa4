#pragma once
// Shared scaffolding of the transport tests: a private settings folder, a
// recorder for operator messages, scripted dialogs and event-driven waiting.
#include "DialogRunner.h"
#include "IniFile.h"
#include "MessageDialog.h"
#include "TransportOperator.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDialog>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <utility>
#include <vector>

// Runs the event loop until `done` holds or `timeoutMs` passed; the result
// of `done` at the end.
inline bool WaitFor(const std::function<bool()>& done, int timeoutMs = 5000)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QTest::qSleep(2);
    }
    return true;
}

// Lets the event loop run for `ms` milliseconds.
inline void Settle(int ms)
{
    WaitFor([] { return false; }, ms);
}

struct TRecordedMessage {
    TMessageKind kind;
    QString text;
};

// Base fixture: settings files go to a fresh temporary folder, operator
// messages are recorded instead of shown, and every dialog is run by
// `DialogScript` (default: press Cancel).
class TransportTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Folder.isValid());
        SetSettingsFolderOverride(Folder.path());
        FPreviousHandler = SetMessageHandler(
            [this](TMessageKind kind, const QString& text) { Messages.push_back({kind, text}); });
        FPreviousRunner = SetDialogRunner([this](QDialog& dialog) {
            ++DialogRuns;
            return DialogScript ? DialogScript(dialog) : static_cast<int>(QDialog::Rejected);
        });
    }

    void TearDown() override
    {
        SetDialogRunner(std::move(FPreviousRunner));
        SetMessageHandler(std::move(FPreviousHandler));
        SetSettingsFolderOverride(QString());
    }

    // Writes `text` as the settings file `name` in the settings folder.
    void WriteSettingsFile(const QString& name, const QByteArray& text)
    {
        QFile file(Folder.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
    }

    QByteArray ReadSettingsFile(const QString& name)
    {
        QFile file(Folder.filePath(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // Presses the button named `buttonName` of the dialog as an operator
    // would and returns the dialog's result.
    static int Press(QDialog& dialog, const char* buttonName)
    {
        auto* button = dialog.findChild<QAbstractButton*>(QString::fromLatin1(buttonName));
        EXPECT_NE(button, nullptr) << buttonName;
        if (!button)
            return QDialog::Rejected;
        dialog.setResult(QDialog::Rejected);
        dialog.show();
        QTest::mouseClick(button, Qt::LeftButton);
        dialog.hide();
        return dialog.result();
    }

    int ErrorCount() const
    {
        int n = 0;
        for (const auto& m : Messages)
            n += m.kind == TMessageKind::Error ? 1 : 0;
        return n;
    }

    QTemporaryDir Folder;
    std::vector<TRecordedMessage> Messages;
    std::function<int(QDialog&)> DialogScript;
    int DialogRuns = 0;

private:
    TMessageHandler FPreviousHandler;
    TDialogRunner FPreviousRunner;
};
