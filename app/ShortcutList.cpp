#include "ShortcutList.h"

#include <QAbstractButton>
#include <QAction>
#include <QDialog>
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

// The buttons of `window` and of its tool windows (not of its dialogs) with a
// key that presses them: a key that another button or a menu title of the
// same window shares only moves the focus between them.
QList<QAbstractButton*> KeyedButtons(const QMainWindow& window)
{
    std::map<std::pair<const QWidget*, QString>, int> uses;
    QList<QAbstractButton*> buttons = window.findChildren<QAbstractButton*>();
    buttons.removeIf([](const QAbstractButton* button) { return qobject_cast<const QDialog*>(button->window()); });
    for (const QAbstractButton* button : buttons)
        if (!button->shortcut().isEmpty())
            ++uses[{button->window(), Key(button->shortcut())}];
    for (const QMenu* menu : Menus(window))
        ++uses[{&window, Key(QKeySequence::mnemonic(menu->title()))}];
    QList<QAbstractButton*> keyed;
    for (QAbstractButton* button : buttons)
        if (!button->shortcut().isEmpty() && uses[{button->window(), Key(button->shortcut())}] == 1)
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
                rows.emplace_back(Key(action->shortcut()),
                                  Plain(menu->title()) + QStringLiteral(" > ") + Plain(action->text()));
    }
    for (const QAbstractButton* button : KeyedButtons(window)) {
        const QWidget* owner = button->window();
        const QString place = owner == &window ? QString() : owner->windowTitle() + QStringLiteral(": ");
        rows.emplace_back(Key(button->shortcut()), place + QStringLiteral("%1 button").arg(Plain(button->text())));
    }
    rows.emplace_back(QStringLiteral("Enter"),
                      QStringLiteral("In a value field: its panel's Apply, Goto, Grasp or Release button"));
    rows.emplace_back(QStringLiteral("Alt+letter"),
                      QStringLiteral("The menu or button with that letter underlined (shared: next of them)"));
    return rows;
}

void ShowShortcutsInTips(QMainWindow& window)
{
    for (QAbstractButton* button : KeyedButtons(window)) {
        const QString tip = button->toolTip().isEmpty() ? Plain(button->text()) : button->toolTip();
        button->setToolTip(QStringLiteral("%1 (%2)").arg(tip, Key(button->shortcut())));
    }
}
