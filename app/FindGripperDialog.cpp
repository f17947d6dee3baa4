#include "FindGripperDialog.h"

#include "ConnectionString.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QThread>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

// The connection string of a found gripper's row.
constexpr int ConnectionRole = Qt::UserRole;

QString ProblemName(TScanProblem::TKind kind)
{
    switch (kind) {
    case TScanProblem::TKind::InUse:
        return QStringLiteral("in use");
    case TScanProblem::TKind::NoPermission:
        return QStringLiteral("no permission");
    case TScanProblem::TKind::Refused:
        return QStringLiteral("answered with an error");
    case TScanProblem::TKind::Unreachable:
        break;
    }
    return QStringLiteral("not reachable");
}

}

TFindGripperDlg::TFindGripperDlg(TScanOptions options, QWidget* owner)
    : QDialog(owner), FOptions(std::move(options))
{
    setObjectName(QStringLiteral("FindGripperDlg"));
    setWindowTitle(QStringLiteral("Find a Gripper"));
    lbStatus = new QLabel(this);
    lbStatus->setObjectName(QStringLiteral("lbStatus"));
    lbStatus->setWordWrap(true);
    lvFound = new QTreeWidget(this);
    lvFound->setObjectName(QStringLiteral("lvFound"));
    lvFound->setRootIsDecorated(false);
    lvFound->setHeaderLabels({QStringLiteral("Connection"), QStringLiteral("Serial number"),
                              QStringLiteral("Hardware rev."), QStringLiteral("Firmware rev.")});
    lvFound->header()->setStretchLastSection(true);

    auto* buttons = new QDialogButtonBox(this);
    btnConnect = buttons->addButton(QStringLiteral("&Connect"), QDialogButtonBox::AcceptRole);
    btnConnect->setObjectName(QStringLiteral("btnConnect"));
    btnSearch = buttons->addButton(QStringLiteral("&Search again"), QDialogButtonBox::ActionRole);
    btnSearch->setObjectName(QStringLiteral("btnSearch"));
    btnClose = buttons->addButton(QDialogButtonBox::Close);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(btnSearch, &QPushButton::clicked, this, &TFindGripperDlg::Search);
    connect(lvFound, &QTreeWidget::currentItemChanged, this, &TFindGripperDlg::UpdateButtons);
    connect(lvFound, &QTreeWidget::itemDoubleClicked, this, [this] {
        if (!Chosen().isEmpty())
            accept();
    });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lbStatus);
    layout->addWidget(lvFound, 1);
    layout->addWidget(buttons);
    resize(620, 320);
    UpdateButtons();
}

TFindGripperDlg::~TFindGripperDlg()
{
    if (FThread)
        FThread->wait();
}

void TFindGripperDlg::Search()
{
    if (FThread)
        return;
    lvFound->clear();
    lbStatus->setText(QStringLiteral("Searching: every attempt waits up to %1 ms for an answer...")
                          .arg(FOptions.AnswerTime.count()));
    // The scan blocks its caller: it runs on a thread, and its result comes
    // back to this one when the thread ends.
    auto result = std::make_shared<TScanResult>();
    auto error = std::make_shared<QString>();
    FThread = QThread::create([options = FOptions, result, error] {
        try {
            *result = ScanForGrippers(options);
        } catch (const TConnectionStringError& e) {
            *error = QString::fromStdString(e.what());
        }
    });
    FThread->setParent(this);
    connect(FThread, &QThread::finished, this, [this, result, error] {
        FThread->deleteLater();
        FThread = nullptr;
        Show(*result, *error);
    });
    FThread->start();
    UpdateButtons();
}

void TFindGripperDlg::Show(const TScanResult& result, const QString& error)
{
    FResult = result;
    lvFound->clear();
    for (const TFoundGripper& found : result.Found) {
        auto* row = new QTreeWidgetItem(lvFound, {found.Connection, QString::asprintf("%.8u", found.SerialNumber),
                                                  QString::number(found.HardwareRevision),
                                                  QString::number(found.FirmwareRevision)});
        row->setData(0, ConnectionRole, found.Connection);
    }
    for (const TScanProblem& problem : result.Problems) {
        auto* row = new QTreeWidgetItem(lvFound, {problem.Connection, ProblemName(problem.Kind)});
        row->setToolTip(0, problem.Text);
        row->setToolTip(1, problem.Text);
        row->setFlags(row->flags() & ~Qt::ItemIsSelectable);
        row->setForeground(0, palette().brush(QPalette::Disabled, QPalette::Text));
        row->setForeground(1, palette().brush(QPalette::Disabled, QPalette::Text));
    }
    for (int column = 0; column < lvFound->columnCount(); ++column)
        lvFound->resizeColumnToContents(column);
    if (!error.isEmpty())
        lbStatus->setText(QStringLiteral("Cannot search: %1").arg(error));
    else if (result.Found.empty())
        lbStatus->setText(QStringLiteral("No gripper answered."));
    else
        lbStatus->setText(QStringLiteral("%1 answered; choose one to connect to.")
                              .arg(result.Found.size() == 1 ? QStringLiteral("One gripper")
                                                            : QStringLiteral("%1 grippers").arg(result.Found.size())));
    if (!result.Found.empty())
        lvFound->setCurrentItem(lvFound->topLevelItem(0));
    UpdateButtons();
}

QString TFindGripperDlg::Chosen() const
{
    const QTreeWidgetItem* row = lvFound->currentItem();
    return row ? row->data(0, ConnectionRole).toString() : QString();
}

void TFindGripperDlg::UpdateButtons()
{
    btnConnect->setEnabled(!Searching() && !Chosen().isEmpty());
    btnSearch->setEnabled(!Searching());
}
