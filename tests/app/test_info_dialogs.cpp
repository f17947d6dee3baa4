// Rows of the information dialogs and the list dialog that shows them.
#include "AppTestSupport.h"
#include "InfoRows.h"
#include "ListBoxDialog.h"
#include "ZLBListBox.h"

#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace {

QString ValueOf(const TInfoRows& rows, const QString& description)
{
    for (const TInfoRow& row : rows)
        if (row.first == description)
            return row.second;
    return QStringLiteral("<missing>");
}

TEST(InfoRows, SystemInformation)
{
    TSystemInfo info;
    info.GripperType = 7;
    info.HardwareRevision = 2;
    info.FirmwareRevision = 259;
    info.SerialNumber = 1234;
    const TInfoRows rows = SystemInfoRows(info);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0], TInfoRow(QStringLiteral("Gripper type"), QStringLiteral("HXT 50")));
    EXPECT_EQ(rows[1], TInfoRow(QStringLiteral("Serial number"), QStringLiteral("00001234")));
    EXPECT_EQ(rows[2], TInfoRow(QStringLiteral("Hardware rev."), QStringLiteral("2")));
    EXPECT_EQ(rows[3], TInfoRow(QStringLiteral("Firmware rev."), QStringLiteral("259")));

    info.SerialNumber = 123456789;
    EXPECT_EQ(ValueOf(SystemInfoRows(info), QStringLiteral("Serial number")), QStringLiteral("123456789"));
    info.SerialNumber = -1;
    EXPECT_EQ(ValueOf(SystemInfoRows(info), QStringLiteral("Serial number")), QStringLiteral("-00000001"));
}

TEST(InfoRows, SystemLimitsAreRoundedToWholeNumbers)
{
    TSystemLimits limits;
    limits.Stroke = 110.0f;
    limits.MinSpeed = 5.4f;
    limits.MaxSpeed = 419.6f;
    limits.MinAcceleration = 100;
    limits.MaxAcceleration = 5000;
    limits.MinForce = 5;
    limits.MaxForce = 80;
    limits.Extra = 120;
    const TInfoRows rows = SystemLimitsRows(limits);
    const TInfoRows expected{
        {QStringLiteral("Stroke"), QStringLiteral("110 mm")},
        {QStringLiteral("Minimum speed"), QStringLiteral("5 mm/s")},
        {QStringLiteral("Maximum speed"), QStringLiteral("420 mm/s")},
        {QStringLiteral("Minimum acceleration"), QStringLiteral("100 mm/s²")},
        {QStringLiteral("Maximum acceleration"), QStringLiteral("5000 mm/s²")},
        {QStringLiteral("Minimum force"), QStringLiteral("5 N")},
        {QStringLiteral("Maximum force"), QStringLiteral("80 N")},
    };
    EXPECT_EQ(rows, expected);

    limits.MinSpeed = 2.5f;
    limits.MaxForce = 80.5f;
    limits.Stroke = 0.5f;
    EXPECT_EQ(ValueOf(SystemLimitsRows(limits), QStringLiteral("Minimum speed")), QStringLiteral("3 mm/s"));
    EXPECT_EQ(ValueOf(SystemLimitsRows(limits), QStringLiteral("Maximum force")), QStringLiteral("81 N"));
    EXPECT_EQ(ValueOf(SystemLimitsRows(limits), QStringLiteral("Stroke")), QStringLiteral("1 mm"));
}

TEST(InfoRows, GraspingStatistics)
{
    TGraspingStats stats;
    stats.NumGrasps = 123456;
    stats.NumNotFound = 65535;
    stats.NumLost = 3;
    const TInfoRows expected{
        {QStringLiteral("Number of grasps"), QStringLiteral("123456")},
        {QStringLiteral("Number of not found parts"), QStringLiteral("65535")},
        {QStringLiteral("Number of parts lost"), QStringLiteral("3")},
    };
    EXPECT_EQ(GraspingStatsRows(stats), expected);
}

TEST(ListBoxDialog, ShowsRowsInTwoColumnsSizedToTheDescriptions)
{
    TAppDriver driver;
    TListBoxDlg dialog(nullptr);
    EXPECT_EQ(dialog.ListBox->Count(), 0); // no design item
    dialog.AddRow(QStringLiteral("Number of not found parts"), QStringLiteral("0"));
    dialog.AddRow(QStringLiteral("Stroke"), QStringLiteral("110 mm"));

    TZLBHeaderSections* sections = dialog.ListBox->HeaderSections();
    ASSERT_EQ(sections->Count(), 2);
    EXPECT_EQ(sections->Items(0)->Text(), QStringLiteral("Description"));
    EXPECT_EQ(sections->Items(1)->Text(), QStringLiteral("Value"));
    const int total = sections->Items(0)->Width() + sections->Items(1)->Width();

    int shown = 0;
    driver.OtherDialog = [&](QDialog& d) {
        ++shown;
        EXPECT_EQ(&d, &dialog);
        return QDialog::Rejected;
    };
    dialog.ShowList();
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(dialog.ListBox->Items(), (QStringList{QStringLiteral("Number of not found parts;0"),
                                                    QStringLiteral("Stroke;110 mm")}));
    const int fitted = QFontMetrics(dialog.ListBox->Font()).horizontalAdvance(QStringLiteral("Number of not found parts")) + 10;
    EXPECT_GE(sections->Items(0)->Width(), fitted);
    EXPECT_NE(sections->Items(0)->Width(), 165);
    EXPECT_EQ(sections->Items(0)->Width() + sections->Items(1)->Width(), total);
}

TEST(ListBoxDialog, CloseButtonStaysCentred)
{
    TListBoxDlg dialog(nullptr);
    dialog.show();
    dialog.resize(400, 250);
    QTest::qWait(20);
    EXPECT_EQ(dialog.btnClose->x(), (dialog.Panel2->width() - dialog.btnClose->width()) / 2);
    EXPECT_EQ(dialog.btnClose->text(), QStringLiteral("&close"));
    QTest::mouseClick(dialog.btnClose, Qt::LeftButton);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

}
