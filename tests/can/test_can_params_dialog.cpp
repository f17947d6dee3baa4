// The CAN parameter dialog: its bit-rate table both ways, the identifier
// field and the OK button that follows it, and Execute through the dialog
// seam.
#include "../transports/TransportTestSupport.h"

#include "CanParamsDialog.h"
#include "IntegerEdit.h"
#include "NTCAN.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <stdexcept>

namespace {

class CanParamsDialogTest : public TransportTest {
protected:
    QComboBox* Bitrates() { return Dialog.findChild<QComboBox*>(QStringLiteral("cbBitrate")); }
    TIntegerEdit* Id() { return Dialog.findChild<TIntegerEdit*>(QStringLiteral("edID")); }
    QPushButton* Ok() { return Dialog.findChild<QPushButton*>(QStringLiteral("btnOk")); }

    TCANParamsDlg Dialog{nullptr};
};

TEST_F(CanParamsDialogTest, BitrateEntriesMapToTheirCodesBothWays)
{
    const std::pair<const char*, uint32_t> table[] = {{"10 kBit/s", 13}, {"20 kBit/s", 11}, {"50 kBit/s", 9},
        {"100 kBit/s", 7}, {"125 kBit/s", 6}, {"250 kBit/s", 4}, {"500 kBit/s", 2}, {"1 MBit/s", 0}};
    ASSERT_EQ(Bitrates()->count(), 8);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(Bitrates()->itemText(i), QString::fromLatin1(table[i].first));
        Dialog.SetBitrateCode(table[i].second);
        EXPECT_EQ(Bitrates()->currentIndex(), i);
        EXPECT_EQ(Bitrates()->currentText(), QString::fromLatin1(table[i].first));
        EXPECT_EQ(Dialog.BitrateCode(), table[i].second);
        // Picking the entry in the list gives the same code.
        Bitrates()->setCurrentIndex((i + 1) % 8);
        Bitrates()->setCurrentIndex(i);
        EXPECT_EQ(Dialog.BitrateCode(), table[i].second);
    }
}

TEST_F(CanParamsDialogTest, UnsupportedCodeIsRefusedWithItsNumber)
{
    Dialog.SetBitrateCode(NTCAN_BAUD_125);
    for (uint32_t code : {1u, 3u, 14u, 255u}) {
        try {
            Dialog.SetBitrateCode(code);
            ADD_FAILURE() << code << " accepted";
        } catch (const std::invalid_argument& error) {
            EXPECT_EQ(std::string(error.what()), std::to_string(code) + " is not a supported bitrate");
        }
    }
    EXPECT_EQ(Dialog.BitrateCode(), NTCAN_BAUD_125);
}

TEST_F(CanParamsDialogTest, OkNeedsABitrateTextThatNamesAnEntry)
{
    // The design text names the 250 kBit/s entry in another letter case.
    EXPECT_TRUE(Ok()->isEnabled());
    EXPECT_EQ(Dialog.BitrateCode(), NTCAN_BAUD_250);

    Dialog.SetBitrateCode(NTCAN_BAUD_50);
    Bitrates()->setEditText(QStringLiteral("125 kbit/s"));
    EXPECT_EQ(Dialog.BitrateCode(), NTCAN_BAUD_125);
    EXPECT_TRUE(Ok()->isEnabled());
    for (const char* text : {"300 kBit/s", "125", "125k", ""}) {
        Bitrates()->setEditText(QString::fromLatin1(text));
        EXPECT_FALSE(Ok()->isEnabled()) << text;
        EXPECT_EQ(Dialog.BitrateCode(), NTCAN_BAUD_1000) << text;
    }
    Bitrates()->setEditText(QStringLiteral(" 500 KBIT/S "));
    EXPECT_TRUE(Ok()->isEnabled());
    EXPECT_EQ(Dialog.BitrateCode(), NTCAN_BAUD_500);
    // A valid bit rate does not make up for an invalid identifier.
    Id()->setText(QStringLiteral("abc"));
    EXPECT_FALSE(Ok()->isEnabled());
    Bitrates()->setCurrentIndex(2);
    EXPECT_FALSE(Ok()->isEnabled());
    Id()->setText(QStringLiteral("7"));
    EXPECT_TRUE(Ok()->isEnabled());

    // Typing never adds entries to the list.
    Bitrates()->lineEdit()->setText(QStringLiteral("42"));
    QTest::keyClick(Bitrates()->lineEdit(), Qt::Key_Return);
    EXPECT_EQ(Bitrates()->count(), 8);
}

TEST_F(CanParamsDialogTest, IdentifierFieldDecidesTargetIdAndOk)
{
    EXPECT_EQ(Id()->text(), QStringLiteral("100"));
    EXPECT_EQ(Dialog.TargetId(), 100);
    EXPECT_TRUE(Ok()->isEnabled());

    const std::pair<const char*, int32_t> valid[] = {{"0x1F", 31}, {"$7FF", 2047}, {"-5", -5}, {"2147483647", 2147483647}};
    for (const auto& [text, id] : valid) {
        Id()->setText(QString::fromLatin1(text));
        EXPECT_EQ(Dialog.TargetId(), id) << text;
        EXPECT_TRUE(Ok()->isEnabled()) << text;
    }
    for (const char* text : {"", "abc", "1.5", "0x", "2147483648", "12 "}) {
        Id()->setText(QString::fromLatin1(text));
        EXPECT_EQ(Dialog.TargetId(), -1) << text;
        EXPECT_FALSE(Ok()->isEnabled()) << text;
    }
    Id()->setText(QStringLiteral("7"));
    EXPECT_TRUE(Ok()->isEnabled());
}

TEST_F(CanParamsDialogTest, ExecuteTellsOkFromCancel)
{
    DialogScript = [](QDialog& dialog) { return Press(dialog, "btnOk"); };
    EXPECT_TRUE(Dialog.Execute());
    DialogScript = [](QDialog& dialog) { return Press(dialog, "btnCancel"); };
    EXPECT_FALSE(Dialog.Execute());
    EXPECT_EQ(DialogRuns, 2);
}

TEST_F(CanParamsDialogTest, LayoutAndTexts)
{
    EXPECT_EQ(Dialog.windowTitle(), QStringLiteral("CAN-Bus Configuration"));
    EXPECT_EQ(Dialog.size(), QSize(313, 183));
    EXPECT_EQ(Dialog.findChild<QPushButton*>(QStringLiteral("btnCancel"))->text(), QStringLiteral("Cancel"));
    EXPECT_EQ(Dialog.findChild<QLabel*>(QStringLiteral("Label1"))->text(), QStringLiteral("CAN-Bus bitrate:"));
    EXPECT_EQ(Dialog.findChild<QLabel*>(QStringLiteral("Label2"))->text(), QStringLiteral("ID of the target system:"));
}

} // namespace
