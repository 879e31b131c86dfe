// Number texts with Brazilian separators, as the percentage and value edits show and read them.

#include "Formats.h"
#include "QtPrinters.h"

#include <gtest/gtest.h>

namespace {

const QString Percent = QStringLiteral("#,##0.00 %");
const QString Value = QStringLiteral("#,##0.00");

TEST(FormatFloat, PercentagesShowTheStoredNumberWithTwoDecimalsAndTheSuffix) {
    EXPECT_EQ(FormatFloat(Percent, 12.5), "12,50 %");
    EXPECT_EQ(FormatFloat(Percent, 1234.5), "1.234,50 %");
    EXPECT_EQ(FormatFloat(Percent, 0), "0,00 %");
    EXPECT_EQ(FormatFloat(Percent, 100), "100,00 %");
    EXPECT_EQ(FormatFloat(Percent, -7.25), "-7,25 %");
    EXPECT_EQ(FormatFloat(Value, 12.5), "12,50");
    EXPECT_EQ(FormatFloat(Value, 0.5), "0,50");
}

TEST(FormatFloat, GroupsEveryThreeDigits) {
    EXPECT_EQ(FormatFloat(Value, 999), "999,00");
    EXPECT_EQ(FormatFloat(Value, 1000), "1.000,00");
    EXPECT_EQ(FormatFloat(Value, 123456.78), "123.456,78");
    EXPECT_EQ(FormatFloat(Value, 1234567.891), "1.234.567,89");
    EXPECT_EQ(FormatFloat(Value, 1e9), "1.000.000.000,00");
    EXPECT_EQ(FormatFloat(Value, -1234567.5), "-1.234.567,50");
    EXPECT_EQ(FormatFloat(QStringLiteral("0.00"), 1234567.5), "1234567,50");
}

TEST(FormatFloat, RoundsHalfAwayFromZeroAsWritten) {
    // 2.675 and 1.005 are stored a little below the half; a person still reads them as halves.
    EXPECT_EQ(FormatFloat(Value, 2.675), "2,68");
    EXPECT_EQ(FormatFloat(Value, 1.005), "1,01");
    EXPECT_EQ(FormatFloat(Value, 0.005), "0,01");
    EXPECT_EQ(FormatFloat(Value, -2.675), "-2,68");
    EXPECT_EQ(FormatFloat(Value, 0.004), "0,00");
    EXPECT_EQ(FormatFloat(Value, 12.344999), "12,34");
    EXPECT_EQ(FormatFloat(Value, 999.995), "1.000,00"); // the carry opens a new group
    EXPECT_EQ(FormatFloat(Value, -0.004), "0,00");      // no negative zero
    EXPECT_EQ(FormatFloat(QStringLiteral("#,##0"), 1234.5), "1.235");
}

TEST(FloatToStr, ShortestTextThatReadsBackTheSameNumber) {
    EXPECT_EQ(FloatToStr(12.5), "12,5");
    EXPECT_EQ(FloatToStr(-0.4), "-0,4");
    EXPECT_EQ(FloatToStr(90), "90");
    EXPECT_EQ(FloatToStr(1e-7), "0,0000001");
    for (double v : {0.1, -0.4, 1e-7, 12.5, 1234567.125, 123456789.98765432, 1e20}) {
        const auto back = StrToFloat(FloatToStr(v));
        ASSERT_TRUE(back) << v;
        EXPECT_EQ(*back, v);
    }
}

TEST(StrToFloat, ReadsBrazilianNumbers) {
    EXPECT_EQ(StrToFloat(QStringLiteral("1.234,50")), 1234.5);
    EXPECT_EQ(StrToFloat(QStringLiteral("1.234.567,89")), 1234567.89);
    EXPECT_EQ(StrToFloat(QStringLiteral("12,50 %")), 12.5);
    EXPECT_EQ(StrToFloat(QStringLiteral("12,5%")), 12.5);
    EXPECT_EQ(StrToFloat(QStringLiteral("-3")), -3.0);
    EXPECT_EQ(StrToFloat(QStringLiteral("-1.234,5")), -1234.5);
    EXPECT_EQ(StrToFloat(QStringLiteral(" 7 ")), 7.0);
    EXPECT_EQ(StrToFloat(QStringLiteral("1.000")), 1000.0);
    EXPECT_EQ(StrToFloat(QStringLiteral("0,1")), 0.1);
    // What FormatFloat shows reads back as the shown number.
    for (double v : {0.0, 12.5, 1234.5, -7.25, 1234567.89})
        EXPECT_EQ(StrToFloat(FormatFloat(Percent, v)), v) << v;
}

TEST(StrToFloat, RefusesTextThatIsNotANumber) {
    for (const char* bad : {"1.2.3", "abc", "12,5,0", "", "   ", "%", "12.5", "1234.567", ".5",
                            "1.23,4", "inf", "nan", "12a", "1,2.345"})
        EXPECT_FALSE(StrToFloat(QString::fromLatin1(bad))) << '"' << bad << '"';
}

} // namespace
