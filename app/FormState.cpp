#include "FormState.h"

#include "IniFile.h"

#include <QGuiApplication>
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

// A placement is usable when a reasonable part of the window lies on one of
// the screens, so the operator can still reach its caption.
bool OnSomeScreen(const QRect& rect)
{
    const QList<QScreen*> screens = QGuiApplication::screens();
    if (screens.isEmpty())
        return true;
    for (const QScreen* screen : screens) {
        const QRect visible = screen->availableGeometry().intersected(rect);
        if (visible.width() >= 50 && visible.height() >= 20)
            return true;
    }
    return false;
}

}

TFormState::TFormState(QString fileName, QString section)
    : FFileName(std::move(fileName)), FSection(std::move(section))
{
}

bool TFormState::Restore(QWidget* window) const
{
    // One pass over the file for all keys: it may be large.
    const TIniSection ini = TIniFile(SettingsFilePath(FFileName)).ReadSection(FSection).value_or(TIniSection());
    constexpr int missing = -1;
    const int width = ini.ReadInteger(KeyWidth, missing);
    const int height = ini.ReadInteger(KeyHeight, missing);
    if (width <= 0 || height <= 0)
        return false;
    const QRect rect(ini.ReadInteger(KeyLeft, 0), ini.ReadInteger(KeyTop, 0), width, height);
    if (!OnSomeScreen(rect))
        return false;

    window->setGeometry(rect);
    const QString state = ini.ReadString(KeyState, StateNormal);
    if (state.compare(StateMaximized, Qt::CaseInsensitive) == 0)
        window->setWindowState(window->windowState() | Qt::WindowMaximized);
    return true;
}

bool TFormState::Save(const QWidget* window, QString* error) const
{
    TIniFile ini(SettingsFilePath(FFileName));
    const QRect rect = window->normalGeometry().isValid() ? window->normalGeometry() : window->geometry();
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
    const QRect available = screen->availableGeometry();
    // The frame is not known before the window is first shown; leave room
    // for a typical caption and border then.
    QSize frame = window->frameGeometry().size() - window->geometry().size();
    if (frame.isEmpty())
        frame = QSize(16, 40);
    const QSize room = available.size() - frame;
    if (window->width() <= room.width() && window->height() <= room.height())
        return false;
    window->resize(window->size().boundedTo(room).expandedTo(window->minimumSize()));
    window->move(available.topLeft());
    return true;
}
