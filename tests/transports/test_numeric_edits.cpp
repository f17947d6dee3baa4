// Numeric edit fields: the integer literal syntax, validation with ranges,
// the error look, the change events and the Value accessors, driven by
// typing as an operator would.
#include "FloatEdit.h"
#include "IntegerEdit.h"
#include "IntegerLiteral.h"

#include <QLineEdit>
#include <QLocale>
#include <QPalette>
#include <QTest>

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

template <typename TEdit>
void Type(TEdit& edit, const QString& text)
{
    edit.clear();
    QTest::keyClicks(&edit, text);
}

// Keeps the default locale for the duration of a test.
class LocaleScope {
public:
    explicit LocaleScope(const QLocale& locale) { QLocale::setDefault(locale); }
    ~LocaleScope() { QLocale::setDefault(FSaved); }

private:
    QLocale FSaved{QLocale()};
};

} // namespace

TEST(IntegerLiteral, AcceptsDecimalAndHexFormsWithTheirValues)
{
    const std::pair<const char*, int32_t> cases[] = {
        {"0", 0}, {"+7", 7}, {"-12", -12}, {"  42", 42}, {"\t5", 5},
        {"$ff", 255}, {"xFF", 255}, {"X1a", 26}, {"0x00", 0}, {"0XFF", 255},
        {"$FFFFFFFF", -1}, {"$80000000", INT32_MIN}, {"2147483647", INT32_MAX},
        {"-2147483648", INT32_MIN}, {"007", 7},
    };
    for (const auto& [text, value] : cases) {
        const auto parsed = ParseIntegerLiteral(QString::fromLatin1(text));
        ASSERT_TRUE(parsed.has_value()) << text;
        EXPECT_EQ(*parsed, value) << text;
    }
}

TEST(IntegerLiteral, RejectsEverythingElse)
{
    const char* cases[] = {"", " ", "0x", "$", "x", "-$1", "+0x5", "7 ", "1.0", "2147483648",
        "-2147483649", "$123456789", "0x1G", "--1", "+", "1e3", "0x-1", "$ 1", "12abc"};
    for (const char* text : cases)
        EXPECT_FALSE(ParseIntegerLiteral(QString::fromLatin1(text)).has_value()) << text;
}

TEST(IntegerEdit, ValidatesTypedTextAgainstTheRange)
{
    TIntegerEdit edit;
    edit.SetMinValue(0);
    edit.SetMaxValue(255);
    for (const char* text : {"0x00", "0", "$ff", "0XFF", "+7"}) {
        Type(edit, QString::fromLatin1(text));
        EXPECT_TRUE(edit.IsValid()) << text;
    }
    for (const char* text : {"256", "-1", "-$1", "1.0", "7 ", "", "0x"}) {
        Type(edit, QString::fromLatin1(text));
        EXPECT_FALSE(edit.IsValid()) << text;
    }
}

TEST(IntegerEdit, RangeRulesForZeroAndEmptyRanges)
{
    TIntegerEdit edit;
    Type(edit, QStringLiteral("-2147483648"));
    EXPECT_TRUE(edit.IsValid()) << "both bounds 0 accept any 32-bit integer";
    Type(edit, QStringLiteral("$7FFFFFFF"));
    EXPECT_TRUE(edit.IsValid());

    edit.SetMinValue(5);
    edit.SetMaxValue(5);
    Type(edit, QStringLiteral("5"));
    EXPECT_FALSE(edit.IsValid()) << "MinValue >= MaxValue accepts nothing";

    edit.SetMaxValue(10);
    EXPECT_TRUE(edit.IsValid()) << "changing a bound validates the text again";
    edit.SetMinValue(6);
    EXPECT_FALSE(edit.IsValid());
}

TEST(IntegerEdit, StartsInvalidWithTheErrorLookAndRecolours)
{
    TIntegerEdit edit;
    EXPECT_FALSE(edit.IsValid());
    edit.SetErrorBkgColor(Qt::red);
    QFont errorFont = edit.font();
    errorFont.setBold(true);
    edit.SetErrorFont(errorFont);
    edit.SetErrorFontColor(Qt::blue);
    const QColor normal = edit.palette().color(QPalette::Base);
    const QColor normalText = edit.palette().color(QPalette::Text);

    Type(edit, QStringLiteral("x"));
    EXPECT_EQ(edit.palette().color(QPalette::Base), QColor(Qt::red));
    EXPECT_EQ(edit.palette().color(QPalette::Text), QColor(Qt::blue));
    EXPECT_TRUE(edit.font().bold());

    QTest::keyClicks(&edit, QStringLiteral("1"));
    EXPECT_TRUE(edit.IsValid());
    EXPECT_EQ(edit.palette().color(QPalette::Base), normal);
    EXPECT_EQ(edit.palette().color(QPalette::Text), normalText);
    EXPECT_FALSE(edit.font().bold());
}

TEST(FloatEdit, DisabledFieldTakesThePalettesDisabledColours)
{
    // A plain disabled edit shows what every disabled field must look like.
    QLineEdit plain;
    plain.setEnabled(false);
    const auto disabledColour = [](const QWidget& w, QPalette::ColorRole role) {
        return w.palette().color(QPalette::Disabled, role);
    };

    TFloatEdit edit;
    edit.SetErrorBkgColor(Qt::yellow);
    edit.SetErrorFontColor(Qt::red);
    edit.SetMinValue(0);
    edit.SetMaxValue(10);
    edit.setEnabled(false);
    for (const QString text : {QStringLiteral("5"), QStringLiteral("50")}) {
        edit.setText(text);
        EXPECT_EQ(disabledColour(edit, QPalette::Base), disabledColour(plain, QPalette::Base)) << text.toStdString();
        EXPECT_EQ(disabledColour(edit, QPalette::Text), disabledColour(plain, QPalette::Text)) << text.toStdString();
    }
    // Enabled again, the invalid text shows the error look.
    edit.setEnabled(true);
    EXPECT_EQ(edit.palette().color(QPalette::Active, QPalette::Base), QColor(Qt::yellow));
    EXPECT_EQ(edit.palette().color(QPalette::Inactive, QPalette::Text), QColor(Qt::red));
}

TEST(IntegerEdit, NumericChangeFiresOnlyForNewValidValuesAndChangeForEveryEdit)
{
    TIntegerEdit edit;
    int numericChanges = 0;
    int changes = 0;
    bool validDuringChange = false;
    edit.OnNumericChange = [&](TIntegerEdit* sender) {
        EXPECT_EQ(sender, &edit);
        ++numericChanges;
    };
    edit.OnChange = [&](TIntegerEdit* sender) {
        ++changes;
        validDuringChange = sender->IsValid();
    };

    edit.setText(QStringLiteral("5"));
    EXPECT_TRUE(validDuringChange) << "OnChange sees the validity of the new text";
    edit.setText(QStringLiteral("5z"));
    EXPECT_FALSE(validDuringChange);
    edit.setText(QStringLiteral("5"));
    EXPECT_EQ(numericChanges, 1);
    EXPECT_EQ(changes, 3);

    edit.setText(QStringLiteral("0x5"));
    EXPECT_EQ(numericChanges, 1) << "same value in another form is no numeric change";
    edit.setText(QStringLiteral("6"));
    EXPECT_EQ(numericChanges, 2);
}

TEST(IntegerEdit, FirstValueEqualToTheStartMarkerIsNotReported)
{
    TIntegerEdit edit;
    int numericChanges = 0;
    edit.OnNumericChange = [&](TIntegerEdit*) { ++numericChanges; };
    edit.setText(QStringLiteral("2147483647"));
    EXPECT_EQ(numericChanges, 0);
    edit.setText(QStringLiteral("1"));
    EXPECT_EQ(numericChanges, 1);
}

TEST(IntegerEdit, ValueReadAndWrite)
{
    TIntegerEdit edit;
    Type(edit, QStringLiteral("0x21"));
    EXPECT_EQ(edit.Value(), 33);
    edit.SetValue(edit.Value());
    EXPECT_EQ(edit.text(), QStringLiteral("33"));
    edit.SetValue(-4);
    EXPECT_EQ(edit.text(), QStringLiteral("-4"));
    EXPECT_TRUE(edit.IsValid());

    Type(edit, QStringLiteral("1.5"));
    try {
        (void)edit.Value();
        FAIL() << "reading an invalid field must raise";
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "TIntegerEdit.value: the text property is not a valid integer value");
    }
}

TEST(FloatEdit, SeparatorChoiceInACommaLocale)
{
    const LocaleScope german(QLocale(QLocale::German, QLocale::Germany));
    TFloatEdit edit;
    Type(edit, QStringLiteral("1.5"));
    EXPECT_FALSE(edit.IsValid()) << "dsDefault takes only the locale's separator";
    Type(edit, QStringLiteral("1,5"));
    ASSERT_TRUE(edit.IsValid());
    EXPECT_DOUBLE_EQ(static_cast<double>(edit.Value()), 1.5);

    edit.SetDecSeparator(TDecSeparator::dsPoint);
    Type(edit, QStringLiteral("1.5"));
    EXPECT_TRUE(edit.IsValid());
    Type(edit, QStringLiteral("1,5"));
    EXPECT_TRUE(edit.IsValid());
    Type(edit, QStringLiteral("1.5.5"));
    EXPECT_FALSE(edit.IsValid()) << "only the first point stands for the separator";

    edit.SetValue(2.25L);
    EXPECT_EQ(edit.text(), QStringLiteral("2,25")) << "written with the locale's separator";
}

TEST(FloatEdit, CommaChoiceInAPointLocale)
{
    const LocaleScope english(QLocale(QLocale::English, QLocale::UnitedStates));
    TFloatEdit edit;
    edit.SetDecSeparator(TDecSeparator::dsComma);
    Type(edit, QStringLiteral("3,25"));
    ASSERT_TRUE(edit.IsValid());
    EXPECT_DOUBLE_EQ(static_cast<double>(edit.Value()), 3.25);
    Type(edit, QStringLiteral("3.25"));
    EXPECT_TRUE(edit.IsValid());
}

TEST(FloatEdit, SyntaxAndInclusiveRange)
{
    const LocaleScope english(QLocale(QLocale::English, QLocale::UnitedStates));
    TFloatEdit edit;
    edit.SetMinValue(2);
    edit.SetMaxValue(65);
    for (const char* text : {"2", "65", "1E1", " 10 ", "+3.5", "6.5e0", "4.", ".5e1", "2.0E+1"}) {
        Type(edit, QString::fromLatin1(text));
        EXPECT_TRUE(edit.IsValid()) << text;
    }
    for (const char* text : {"1.99", "65.01", "", ".", "1E", "1,000", "5x", "- 5", "1e5000", "nan", "inf"}) {
        Type(edit, QString::fromLatin1(text));
        EXPECT_FALSE(edit.IsValid()) << text;
    }
    edit.SetMinValue(0);
    edit.SetMaxValue(0);
    Type(edit, QStringLiteral("-1e300"));
    EXPECT_TRUE(edit.IsValid()) << "both bounds 0: no range";
}

TEST(FloatEdit, FirstValueEqualToTheStartMarkerIsNotReported)
{
    const LocaleScope english(QLocale(QLocale::English, QLocale::UnitedStates));
    TFloatEdit edit;
    int numericChanges = 0;
    edit.OnNumericChange = [&](TFloatEdit*) { ++numericChanges; };
    edit.setText(QStringLiteral("1.1E+4932"));
    ASSERT_TRUE(edit.IsValid());
    EXPECT_EQ(numericChanges, 0);
    edit.setText(QStringLiteral("0"));
    EXPECT_EQ(numericChanges, 1) << "0 is a new value";
}

TEST(FloatEdit, ErrorLookFollowsTextAndBounds)
{
    const LocaleScope english(QLocale(QLocale::English, QLocale::UnitedStates));
    TFloatEdit edit;
    const QColor normal = edit.palette().color(QPalette::Base);
    QFont errorFont = edit.font();
    errorFont.setItalic(true);
    edit.SetErrorFont(errorFont);
    edit.SetErrorBkgColor(Qt::yellow);
    EXPECT_EQ(edit.palette().color(QPalette::Base), normal) << "a new colour waits for the next change";

    edit.SetMinValue(2);
    edit.SetMaxValue(65);
    EXPECT_FALSE(edit.IsValid()) << "empty text";
    EXPECT_EQ(edit.palette().color(QPalette::Base), QColor(Qt::yellow)) << "a bound change recolours";
    EXPECT_TRUE(edit.font().italic());

    Type(edit, QStringLiteral("10"));
    EXPECT_EQ(edit.palette().color(QPalette::Base), normal);
    EXPECT_FALSE(edit.font().italic());

    edit.SetMaxValue(5);
    EXPECT_FALSE(edit.IsValid());
    EXPECT_EQ(edit.palette().color(QPalette::Base), QColor(Qt::yellow));
    EXPECT_TRUE(edit.font().italic());
}

TEST(FloatEdit, EventsAndValueAccessors)
{
    const LocaleScope english(QLocale(QLocale::English, QLocale::UnitedStates));
    TFloatEdit edit;
    int numericChanges = 0;
    int changes = 0;
    edit.OnNumericChange = [&](TFloatEdit*) { ++numericChanges; };
    edit.OnChange = [&](TFloatEdit*) { ++changes; };
    Type(edit, QStringLiteral("5"));
    Type(edit, QStringLiteral("5q"));
    Type(edit, QStringLiteral("5"));
    EXPECT_EQ(numericChanges, 1);
    // Every keystroke and every clearing of a non-empty text: 1 + 3 + 2.
    EXPECT_EQ(changes, 6);

    edit.SetValue(0.1L + 0.2L);
    EXPECT_EQ(edit.text(), QStringLiteral("0.3")) << "15 significant digits";
    edit.SetValue(1234567.5L);
    EXPECT_EQ(edit.text(), QStringLiteral("1234567.5")) << "no thousands separators";
    EXPECT_TRUE(edit.IsValid());

    Type(edit, QStringLiteral("abc"));
    try {
        (void)edit.Value();
        FAIL() << "reading an invalid field must raise";
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "TFloatEdit.value: the text property is not a valid float value");
    }
}
