#include "ModalDialog.h"

#include "DialogRunner.h"

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
