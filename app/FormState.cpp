#include "FormState.h"

#include "IniFile.h"

#include <algorithm>

#include <QGuiApplication>
#include <QMargins>
#include <QRect>
#include <QScreen>
#include <QWidget>

namespace {

const QString KeyLeft = QStringLiteral("Left");
const QString KeyTop = QStringLiteral("Top");
const QString KeyWidth = QStringLiteral("Width");
const QString KeyHeight = QStringLiteral("Height");
const QString KeyState = QStringLiteral("State");
const QString StateNormal = QStringLiteral("Normal");
const QString StateMaximized = QStringLiteral("Maximized");
const QString StateMinimized = QStringLiteral("Minimized");

// The window's frame (caption and borders) around its client area. Before
// the window is first shown the frame is not known; room for a typical
// caption and border is left then.
QMargins FrameMargins(const QWidget* window)
{
    const QRect frame = window->frameGeometry();
    const QRect client = window->geometry();
    if (window->testAttribute(Qt::WA_WState_Created) && frame != client)
        return {client.left() - frame.left(), client.top() - frame.top(), frame.right() - client.right(),
                frame.bottom() - client.bottom()};
    return {8, 32, 8, 8};
}

// The screen that shows most of `rect`; the primary screen when none shows
// any of it (the screen it was on is gone).
const QScreen* ScreenFor(const QRect& rect)
{
    const QScreen* best = QGuiApplication::primaryScreen();
    qint64 bestArea = 0;
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect common = screen->availableGeometry().intersected(rect);
        const qint64 area = qint64(common.width()) * common.height();
        if (area > bestArea) {
            best = screen;
            bestArea = area;
        }
    }
    return best;
}

int Clamped(int value, int low, int high)
{
    return std::max(low, std::min(value, high));
}

}

TFormState::TFormState(QString fileName, QString section)
    : FFileName(std::move(fileName)), FSection(std::move(section))
{
}

bool TFormState::Restore(QWidget* window)
{
    // One pass over the file for all keys: it may be large.
    const TIniSection ini = TIniFile(SettingsFilePath(FFileName)).ReadSection(FSection).value_or(TIniSection());
    constexpr int missing = -1;
    const int width = ini.ReadInteger(KeyWidth, missing);
    const int height = ini.ReadInteger(KeyHeight, missing);
    if (width <= 0 || height <= 0)
        return false;
    window->setGeometry(ini.ReadInteger(KeyLeft, 0), ini.ReadInteger(KeyTop, 0), width, height);
    KeepOnScreen(window);
    const QString state = ini.ReadString(KeyState, StateNormal);
    if (state.compare(StateMaximized, Qt::CaseInsensitive) == 0)
        window->setWindowState(window->windowState() | Qt::WindowMaximized);
    return true;
}

void TFormState::Place(QWidget* window)
{
    if (Restore(window))
        return;
    const QSize before = window->size();
    if (FitToScreen(window))
        Fitted(window, before);
}

bool TFormState::KeepOnScreen(QWidget* window)
{
    const QSize before = window->size();
    if (!::KeepOnScreen(window))
        return false;
    Fitted(window, before);
    return true;
}

void TFormState::Fitted(const QWidget* window, QSize before)
{
    const QSize after = window->size();
    if (after == before)
        return;
    // A window the program shrank before and the operator left alone since
    // keeps the size chosen before the first shrink.
    const bool leftAlone = FShrink && FShrink->fitted == before;
    FShrink = TShrink{leftAlone ? FShrink->chosen : before, after};
}

bool TFormState::Save(const QWidget* window, QString* error) const
{
    TIniFile ini(SettingsFilePath(FFileName));
    QRect rect = window->normalGeometry().isValid() ? window->normalGeometry() : window->geometry();
    if (FShrink && rect.size() == FShrink->fitted)
        rect.setSize(FShrink->chosen);
    QString state = StateNormal;
    if (window->isMaximized())
        state = StateMaximized;
    else if (window->isMinimized())
        state = StateMinimized;
    const bool saved = ini.Write(FSection,
        {{KeyLeft, QString::number(rect.left())}, {KeyTop, QString::number(rect.top())},
            {KeyWidth, QString::number(rect.width())}, {KeyHeight, QString::number(rect.height())},
            {KeyState, state}});
    if (!saved && error)
        *error = ini.ErrorString();
    return saved;
}

bool FitToScreen(QWidget* window)
{
    const QScreen* screen = window->screen();
    if (!screen || screen->devicePixelRatio() <= 1.0)
        return false;
    return KeepOnScreen(window);
}

bool KeepOnScreen(QWidget* window)
{
    const QMargins frame = FrameMargins(window);
    const QRect client = window->geometry();
    const QScreen* screen = ScreenFor(client.marginsAdded(frame));
    if (!screen)
        return false;
    const QRect room = screen->availableGeometry().marginsRemoved(frame);
    if (room.contains(client))
        return false;
    // A screen smaller than the window's minimum size lowers the minimum:
    // a window that cannot be made to fit hides the controls off the screen.
    window->setMinimumSize(window->minimumSize().boundedTo(room.size()));
    const QSize size = client.size().boundedTo(room.size()).expandedTo(window->minimumSize());
    window->setGeometry(Clamped(client.left(), room.left(), room.right() + 1 - size.width()),
                        Clamped(client.top(), room.top(), room.bottom() + 1 - size.height()), size.width(),
                        size.height());
    return true;
}
