// Shows the collapsible panels and the multi-column list box side by side.
// Usage: controls-gallery [--screenshot PATH]
#include "RollPanel.h"
#include "ZLBListBox.h"

#include <QApplication>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTimer>
#include <QVBoxLayout>

namespace {

TRollPanel* MakeStatePanel()
{
    auto* panel = new TRollPanel;
    panel->SetCaption(QStringLiteral("System state"));
    panel->SetAlign(alTop);
    panel->resize(260, 170);
    auto* body = new QVBoxLayout(panel);
    body->setSpacing(2);
    auto* state = new QLabel(QStringLiteral("State: <b><font color=navy>00000011h</font></b>"));
    body->addWidget(state);
    const char* flags[] = {"Gripper referenced", "Gripper moving", "Gripper blocked",
                           "Soft limit minus", "Soft limit plus"};
    for (int i = 0; i < 5; ++i) {
        auto* box = new QCheckBox(QString::fromLatin1(flags[i]));
        box->setChecked(i < 2);
        box->setAttribute(Qt::WA_TransparentForMouseEvents);
        body->addWidget(box);
    }
    body->addStretch();
    return panel;
}

TRollPanel* MakeResultsPanel()
{
    auto* panel = new TRollPanel;
    panel->SetCaption(QStringLiteral("Command Results"));
    panel->SetAlign(alTop);
    panel->SetCaptionHeight(20);
    panel->SetCaptionGradientMode(gmUser);
    panel->SetCaptionColorFrom(QColor(31, 73, 125));
    panel->SetCaptionColorTo(QColor(79, 129, 189));
    panel->SetPanelGradientMode(gmNone);
    panel->resize(260, 130);
    auto* body = new QVBoxLayout(panel);
    auto* log = new QPlainTextEdit;
    log->setPlainText(QStringLiteral("Command HOMING finished: Command succeeded.\n"
                                     "Command GRASP_RAW finished: Command succeeded."));
    body->addWidget(log);
    return panel;
}

TRollPanel* MakeCollapsedPanel()
{
    auto* panel = new TRollPanel;
    panel->SetCaption(QStringLiteral("Grasping state"));
    panel->SetAlign(alTop);
    panel->resize(260, 88);
    panel->SetAnimate(false);
    panel->SetState(rpCollapsed);
    panel->SetAnimate(true);
    return panel;
}

TZLBListBox* MakeListBox()
{
    auto* list = new TZLBListBox;
    list->SetAlign(alClient);
    list->SetSortColor(QColor(255, 255, 225));
    struct Column {
        const char* text;
        int width;
        TSectionKind kind;
    };
    const Column columns[] = {{"Use", 46, skNormal},
                              {"Description", 150, skNormal},
                              {"Value", 110, skNormal},
                              {"Colour", 60, skColorBox}};
    for (const Column& column : columns) {
        TZLBHeaderSection* section = list->HeaderSections()->Add();
        section->SetText(QString::fromLatin1(column.text));
        section->SetWidth(column.width);
        section->SetKind(column.kind);
    }
    list->SetCheckBoxColumn(0);
    const char* rows[] = {";Gripper type;HXT 50", ";Serial number;00001234",
                          ";Hardware rev.;3", ";Firmware rev.;259",
                          ";Stroke;110 mm", ";Maximum speed;420 mm/s",
                          ";Maximum acceleration;5000 mm/s²",
                          ";Number of not found parts in the last long run;17"};
    for (const char* row : rows)
        list->AddItem(QString::fromUtf8(row));
    const QRgb colours[] = {0x2e7d32, 0x1565c0, 0xf9a825, 0xc62828,
                            0x6a1b9a, 0x00838f, 0xef6c00, 0x5d4037};
    for (int i = 0; i < list->Count(); ++i) {
        list->SetItemColor(i, colours[i]);
        list->SetItemChecked(i, i % 3 != 1);
    }
    list->SetItemCheckState(5, 2);
    list->Header()->SortByColumn(1);
    list->SetItemIndex(2);
    return list;
}

}

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QString screenshot;
    const QStringList args = app.arguments();
    const int option = args.indexOf(QStringLiteral("--screenshot"));
    if (option >= 0 && option + 1 < args.size())
        screenshot = args[option + 1];

    QWidget window;
    window.setWindowTitle(QStringLiteral("KRM Commander controls"));
    auto* columns = new QHBoxLayout(&window);
    auto* panels = new QVBoxLayout;
    panels->setSpacing(4);
    panels->addWidget(MakeStatePanel());
    panels->addWidget(MakeCollapsedPanel());
    panels->addWidget(MakeResultsPanel());
    panels->addStretch();
    columns->addLayout(panels);
    columns->addWidget(MakeListBox(), 1);
    window.resize(700, 400);
    window.show();

    if (screenshot.isEmpty())
        return app.exec();
    int status = 0;
    QTimer::singleShot(200, &window, [&] {
        status = window.grab().save(screenshot) ? 0 : 1;
        app.quit();
    });
    app.exec();
    return status;
}
