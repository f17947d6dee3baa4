#include "ShortcutList.h"

#include <QAbstractButton>
#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>

#include <map>

namespace {

QString Key(const QKeySequence& key)
{
    return key.toString(QKeySequence::NativeText);
}

// A caption without its mnemonic marks and trailing dots.
QString Plain(QString caption)
{
    caption.remove(QLatin1Char('&'));
    if (caption.endsWith(QStringLiteral("...")))
        caption.chop(3);
    return caption;
}

QList<QMenu*> Menus(const QMainWindow& window)
{
    QList<QMenu*> menus;
    for (QAction* action : window.menuBar()->actions())
        if (QMenu* menu = action->menu())
            menus << menu;
    return menus;
}

// The buttons of `window` with a key that presses them and no other button
// or menu title: a key shared by several only moves the focus between them.
QList<QAbstractButton*> KeyedButtons(const QMainWindow& window)
{
    std::map<QString, int> uses;
    const QList<QAbstractButton*> buttons = window.findChildren<QAbstractButton*>();
    for (const QAbstractButton* button : buttons)
        if (!button->shortcut().isEmpty())
            ++uses[Key(button->shortcut())];
    for (const QMenu* menu : Menus(window))
        ++uses[Key(QKeySequence::mnemonic(menu->title()))];
    QList<QAbstractButton*> keyed;
    for (QAbstractButton* button : buttons)
        if (!button->shortcut().isEmpty() && uses[Key(button->shortcut())] == 1)
            keyed << button;
    return keyed;
}

}

TInfoRows ShortcutRows(const QMainWindow& window)
{
    TInfoRows rows;
    for (const QMenu* menu : Menus(window)) {
        for (const QAction* action : menu->actions())
            if (!action->shortcut().isEmpty())
                rows.emplace_back(Plain(menu->title()) + QStringLiteral(" > ") + Plain(action->text()),
                                  Key(action->shortcut()));
    }
    for (const QAbstractButton* button : KeyedButtons(window))
        rows.emplace_back(QStringLiteral("Button %1").arg(Plain(button->text())), Key(button->shortcut()));
    rows.emplace_back(QStringLiteral("Value field: press its panel's button (Apply, Goto, Grasp, Release)"),
                      Key(QKeySequence(Qt::Key_Return)));
    rows.emplace_back(QStringLiteral("Menu or button with that letter underlined (a letter used twice moves "
                                     "the focus between them)"),
                      QStringLiteral("Alt+letter"));
    return rows;
}

void ShowShortcutsInTips(QMainWindow& window)
{
    for (QAbstractButton* button : KeyedButtons(window)) {
        const QString tip = button->toolTip().isEmpty() ? Plain(button->text()) : button->toolTip();
        button->setToolTip(QStringLiteral("%1 (%2)").arg(tip, Key(button->shortcut())));
    }
}
