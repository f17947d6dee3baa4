#include "DialogRunner.h"

#include <utility>

namespace {
TDialogRunner& InstalledRunner()
{
    static TDialogRunner runner;
    return runner;
}
} // namespace

int RunDialog(QDialog& dialog)
{
    if (const TDialogRunner& runner = InstalledRunner())
        return runner(dialog);
    return dialog.exec();
}

TDialogRunner SetDialogRunner(TDialogRunner runner)
{
    return std::exchange(InstalledRunner(), std::move(runner));
}
