#include "ModalDialog.h"

#include "DialogRunner.h"

#include <QLayout>

#include <algorithm>

TModalDialog::TModalDialog(QObject* owner)
    : QDialog(qobject_cast<QWidget*>(owner))
    , FOwner(owner)
{
    if (owner && !owner->isWidgetType())
        connect(owner, &QObject::destroyed, this, [this] { delete this; });
}

bool TModalDialog::Execute()
{
    return RunDialog(*this) == QDialog::Accepted;
}

void TModalDialog::FixSize(int designWidth, int designHeight)
{
    const QLayout* l = layout();
    const int width = std::max(designWidth, l->totalMinimumSize().width());
    setFixedSize(width, std::max(designHeight, l->hasHeightForWidth() ? l->totalHeightForWidth(width)
                                                                      : l->totalMinimumSize().height()));
}
