// The payload text syntax of the command editor: every element kind, good
// and bad, mixed runs, blanks, locales and the size limit of one packet.
#include "PayloadParser.h"

#include "convert.h"

#include <QLocale>

#include <gtest/gtest.h>

#include <initializer_list>
#include <utility>

namespace {

TByteArray Bytes(std::initializer_list<int> values)
{
    TByteArray bytes;
    for (const int v : values)
        bytes.push_back(static_cast<uint8_t>(v));
    return bytes;
}

TByteArray FloatBytes(float x)
{
    const auto b = SingleToBytes(x);
    return {b.begin(), b.end()};
}

TByteArray Concat(std::initializer_list<TByteArray> parts)
{
    TByteArray all;
    for (const TByteArray& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

// Runs a test in a locale whose decimal separator is a point (and whose
// group separator is a comma), whatever the machine's locale is.
class PointLocale {
public:
    PointLocale() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }
    ~PointLocale() { QLocale::setDefault(FPrevious); }

private:
    QLocale FPrevious;
};

struct TGoodCase {
    const char* text;
    TByteArray expected;
};

void PrintTo(const TGoodCase& c, std::ostream* os) { *os << '[' << c.text << ']'; }

class PayloadParses : public testing::TestWithParam<TGoodCase> {
    PointLocale FLocale;
};

TEST_P(PayloadParses, YieldsItsBytes)
{
    TByteArray bytes = {0x99}; // stale content must not survive
    const int count = ParsePayload(QString::fromUtf8(GetParam().text), bytes);
    EXPECT_EQ(bytes, GetParam().expected);
    EXPECT_EQ(count, static_cast<int>(GetParam().expected.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Elements, PayloadParses,
    testing::Values(
        // empty texts and blanks
        TGoodCase{"", {}}, TGoodCase{"     ", {}}, TGoodCase{"  1   2  ", Bytes({1, 2})},
        // integers: decimal and every hexadecimal prefix
        TGoodCase{"15", Bytes({15})}, TGoodCase{"0", Bytes({0})}, TGoodCase{"255", Bytes({255})},
        TGoodCase{"+7", Bytes({7})}, TGoodCase{"0x10", Bytes({0x10})}, TGoodCase{"0X10", Bytes({0x10})},
        TGoodCase{"$10", Bytes({0x10})}, TGoodCase{"x10", Bytes({0x10})}, TGoodCase{"X1a", Bytes({0x1A})},
        // hexadecimal elements ending in F are integers, not floats
        TGoodCase{"0x0F", Bytes({0x0F})}, TGoodCase{"$0F", Bytes({0x0F})}, TGoodCase{"0xFF", Bytes({0xFF})},
        TGoodCase{"xf", Bytes({0x0F})}, TGoodCase{"$1f", Bytes({0x1F})},
        // floats
        TGoodCase{"10.4f", FloatBytes(10.4f)}, TGoodCase{"15f", FloatBytes(15.0f)},
        TGoodCase{"15F", FloatBytes(15.0f)}, TGoodCase{"-1.5e2f", FloatBytes(-150.0f)},
        TGoodCase{"0.5f", Bytes({0x00, 0x00, 0x00, 0x3F})},
        // strings
        TGoodCase{"\"Hello World\"", Bytes({'H', 'e', 'l', 'l', 'o', ' ', 'W', 'o', 'r', 'l', 'd'})},
        TGoodCase{"\"\"", {}}, TGoodCase{"\"a  b\"", Bytes({'a', ' ', ' ', 'b'})},
        TGoodCase{"\"AB\"1", Bytes({'A', 'B', 1})}, TGoodCase{"\"A\"\"B\"", Bytes({'A', 'B'})},
        TGoodCase{"\"caf\xC3\xA9\"", Bytes({'c', 'a', 'f', 0xE9})},
        // mixed runs
        TGoodCase{"1 2 \"AB\" 0.5f", Concat({Bytes({1, 2, 'A', 'B'}), FloatBytes(0.5f)})},
        TGoodCase{"0 10f 50f", Bytes({0x00, 0x00, 0x00, 0x20, 0x41, 0x00, 0x00, 0x48, 0x42})}));

class PayloadRejects : public testing::TestWithParam<const char*> {
    PointLocale FLocale;
};

TEST_P(PayloadRejects, WithEmptyBytes)
{
    TByteArray bytes = {1, 2, 3};
    EXPECT_EQ(ParsePayload(QString::fromUtf8(GetParam()), bytes), -1);
    EXPECT_TRUE(bytes.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Errors, PayloadRejects,
    testing::Values(
        // integers out of range or malformed
        "256", "300", "-1", "1A", "0x", "$", "x", "0x100", "-$1", "1.0", "0x1G",
        // floats: no suffix, lone suffix, bad number, too large, not finite
        "10.4", "f", "F", "1.2.3f", "1e99f", "-1e39f", "inff", "nanf", "1,5f",
        // strings: unterminated, glued to a preceding element, no 8-bit code
        "\"abc", "1 \"abc", "1\"AB\"", "\"\xE2\x82\xAC\"",
        // one bad element spoils the whole text
        "1 2 3 256", "\"ok\" 0x1FF"));

TEST(PayloadParser, RespectsThePacketSizeLimit)
{
    TByteArray bytes;
    const QString largest = QLatin1Char('"') + QString(65535, QLatin1Char('a')) + QLatin1Char('"');
    EXPECT_EQ(ParsePayload(largest, bytes), 65535);
    EXPECT_EQ(ParsePayload(largest + QStringLiteral(" 1"), bytes), -1);
    EXPECT_TRUE(bytes.empty());
    QString failed = QStringLiteral("stale");
    EXPECT_EQ(ParsePayload(largest + QStringLiteral(" 1"), bytes, &failed), -1);
    EXPECT_TRUE(failed.isEmpty()) << "every element was fine, only too many";
}

TEST(PayloadParser, NamesTheFirstElementThatFailed)
{
    const std::pair<const char*, const char*> cases[] = {
        {"1  0x1FF 1A", "0x1FF"},      {"1 2.5.1f 3", "2.5.1f"},
        {"1 \"ab", "\"ab"},            {"\"\xE2\x82\xAC\" 300", "\"\xE2\x82\xAC\""},
        {"\"ok\"-1 2", "-1"}};
    for (const auto& [text, element] : cases) {
        TByteArray bytes;
        QString failed;
        EXPECT_EQ(ParsePayload(QString::fromUtf8(text), bytes, &failed), -1) << text;
        EXPECT_EQ(failed, QString::fromUtf8(element)) << text;
    }
}

class PayloadParserLocale : public testing::Test {
protected:
    void SetUp() override { QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany)); }
    void TearDown() override { QLocale::setDefault(FPrevious); }

private:
    QLocale FPrevious;
};

TEST_F(PayloadParserLocale, AcceptsTheLocaleSeparatorAndThePoint)
{
    TByteArray comma;
    TByteArray point;
    EXPECT_EQ(ParsePayload(QStringLiteral("10,4f"), comma), 4);
    EXPECT_EQ(ParsePayload(QStringLiteral("10.4f"), point), 4);
    EXPECT_EQ(comma, FloatBytes(10.4f));
    EXPECT_EQ(point, FloatBytes(10.4f));
    EXPECT_EQ(ParsePayload(QStringLiteral("1.000,5f"), point), -1);
}

} // namespace
