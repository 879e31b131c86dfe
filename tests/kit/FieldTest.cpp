// Field texts: what bound controls show and what typed text becomes.

#include "ClientDataSet.h"
#include "Exceptions.h"
#include "QtPrinters.h"

#include <gtest/gtest.h>

using protocol::DataPacket;
using protocol::FieldType;

namespace {

class FieldTextTest : public ::testing::Test {
protected:
    FieldTextTest() {
        ds.AddField({QStringLiteral("TEXTO"), FieldType::String, 10});
        TField& perc = ds.AddField({QStringLiteral("PERC"), FieldType::Float, 0});
        perc.DisplayFormat = QStringLiteral("#,##0.00 %");
        perc.EditFormat = QStringLiteral("#,##0.00");
        ds.AddField({QStringLiteral("NUM"), FieldType::Float, 0});
        ds.AddField({QStringLiteral("DIA"), FieldType::Date, 0});
        DataPacket p = ds.Data();
        p.rows = {{QStringLiteral(" São "), 12.5, 0.1, QDate(2026, 1, 5)},
                  {QVariant(), QVariant(), QVariant(), QVariant()},
                  {QStringLiteral("Ç"), 1234.5, -1234.5, QDate(1999, 12, 31)}};
        ds.SetData(p);
    }
    TField& f(const char* name) { return ds.FieldByName(QString::fromLatin1(name)); }

    TClientDataSet ds{QStringLiteral("cdsTexto")};
};

TEST_F(FieldTextTest, ValuesShowWithTheirFormatsAndNullsShowEmpty) {
    EXPECT_EQ(f("TEXTO").DisplayText(), " São "); // stored as entered
    EXPECT_EQ(f("PERC").DisplayText(), "12,50 %");
    EXPECT_EQ(f("PERC").EditText(), "12,50");
    EXPECT_EQ(f("NUM").DisplayText(), "0,1");
    EXPECT_EQ(f("NUM").EditText(), "0,1");
    EXPECT_EQ(f("DIA").DisplayText(), "05/01/2026");
    EXPECT_EQ(f("DIA").EditText(), "05/01/2026");

    ds.Next();
    for (const char* name : {"TEXTO", "PERC", "NUM", "DIA"}) {
        EXPECT_TRUE(f(name).IsNull()) << name;
        EXPECT_EQ(f(name).DisplayText(), "") << name;
        EXPECT_EQ(f(name).EditText(), "") << name;
    }
    EXPECT_EQ(f("PERC").AsFloat(), 0.0);

    ds.Next();
    EXPECT_EQ(f("PERC").DisplayText(), "1.234,50 %");
    EXPECT_EQ(f("PERC").EditText(), "1.234,50");
    EXPECT_EQ(f("NUM").DisplayText(), "-1234,5");
    EXPECT_EQ(f("DIA").DisplayText(), "31/12/1999");
}

TEST_F(FieldTextTest, EditTextFallsBackToTheDisplayFormat) {
    f("PERC").EditFormat.clear();
    EXPECT_EQ(f("PERC").EditText(), "12,50 %");
}

TEST_F(FieldTextTest, GetTextHookSeesWhichTextIsAskedAndMayReplaceIt) {
    QList<bool> asked;
    f("TEXTO").OnGetText = [&](TField& sender, QString& text, bool displayText) {
        asked << displayText;
        if (sender.AsString() == QStringLiteral(" São "))
            text = displayText ? "mostrado" : "editado";
    };
    EXPECT_EQ(f("TEXTO").DisplayText(), "mostrado");
    EXPECT_EQ(f("TEXTO").EditText(), "editado");
    EXPECT_EQ(asked, QList<bool>({true, false}));

    // The hook starts from the formatted text.
    QString seen;
    f("PERC").OnGetText = [&](TField&, QString& text, bool) { seen = text; };
    f("PERC").DisplayText();
    EXPECT_EQ(seen, "12,50 %");
}

TEST_F(FieldTextTest, SetTextHookReplacesTheConversion) {
    ds.Edit();
    QStringList received;
    f("NUM").OnSetText = [&](TField& sender, const QString& text) {
        received << text;
        sender.SetValue(text == QStringLiteral("Dias Úteis") ? 1.0 : 2.0);
    };
    f("NUM").SetText(QStringLiteral("Dias Úteis"));
    EXPECT_EQ(f("NUM").AsFloat(), 1.0);
    f("NUM").SetText(QStringLiteral("abc")); // not a number, but the hook decides
    EXPECT_EQ(f("NUM").AsFloat(), 2.0);
    EXPECT_EQ(received, QStringList({"Dias Úteis", "abc"}));
}

TEST_F(FieldTextTest, TypedTextBecomesTheFieldsValue) {
    ds.Edit();
    f("PERC").SetText(QStringLiteral("1.234,50"));
    EXPECT_EQ(f("PERC").Value(), QVariant(1234.5));
    f("PERC").SetText(QStringLiteral(" 12,5 % "));
    EXPECT_EQ(f("PERC").Value(), QVariant(12.5));
    f("NUM").SetText(QStringLiteral("-3"));
    EXPECT_EQ(f("NUM").Value(), QVariant(-3.0));
    f("DIA").SetText(QStringLiteral("29/02/2028"));
    EXPECT_EQ(f("DIA").Value(), QVariant(QDate(2028, 2, 29)));
    f("TEXTO").SetText(QStringLiteral("Férias"));
    EXPECT_EQ(f("TEXTO").Value(), QVariant(QStringLiteral("Férias")));

    f("PERC").SetText(QStringLiteral("  "));
    f("DIA").SetText(QString());
    f("TEXTO").SetText(QString());
    EXPECT_TRUE(f("PERC").IsNull());
    EXPECT_TRUE(f("DIA").IsNull());
    EXPECT_TRUE(f("TEXTO").IsNull());
}

TEST_F(FieldTextTest, TextThatIsNotAValueIsRefusedAndTheValueKept) {
    ds.Edit();
    for (const char* bad : {"abc", "1.2.3", "12,5,0", "12.5"})
        EXPECT_THROW(f("PERC").SetText(QString::fromLatin1(bad)), EDatabaseError) << bad;
    EXPECT_EQ(f("PERC").Value(), QVariant(12.5));

    for (const char* bad : {"31/02/2026", "2026-01-05", "05/13/2026", "ontem"})
        EXPECT_THROW(f("DIA").SetText(QString::fromLatin1(bad)), EDatabaseError) << bad;
    EXPECT_EQ(f("DIA").Value(), QVariant(QDate(2026, 1, 5)));

    EXPECT_THROW(f("TEXTO").SetText(QStringLiteral("onze letras")), EDatabaseError);
    EXPECT_EQ(f("TEXTO").AsString(), " São ");
}

} // namespace
