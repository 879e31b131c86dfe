// Data packets and deltas through their JSON text and back, and the packets that are refused.

#include "protocol/PacketJson.h"
#include "QtPrinters.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>

using namespace protocol;

namespace {

// Same values, doubles compared bit for bit.
void expectSameRow(const Row& got, const Row& sent, const QString& where) {
    ASSERT_EQ(got.size(), sent.size()) << where.toStdString();
    for (int i = 0; i < sent.size(); ++i) {
        SCOPED_TRACE(QStringLiteral("%1, value %2").arg(where).arg(i).toStdString());
        EXPECT_EQ(got[i].isNull(), sent[i].isNull());
        if (sent[i].isNull()) continue;
        EXPECT_EQ(got[i].typeId(), sent[i].typeId());
        if (sent[i].typeId() == QMetaType::Double) {
            const double a = got[i].toDouble(), b = sent[i].toDouble();
            EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0) << a << " != " << b;
        } else {
            EXPECT_EQ(got[i], sent[i]);
        }
    }
}

const QVector<FieldSpec> Fields{{QStringLiteral("NMINDICE"), FieldType::String, 30},
                                {QStringLiteral("NMDIRPONTO"), FieldType::String, 100},
                                {QStringLiteral("VRPEENCTEMP"), FieldType::Float, 0},
                                {QStringLiteral("DTBASECB"), FieldType::Date, 0}};

DataPacket awkwardPacket() {
    DataPacket p{Fields, {}};
    p.rows = {
        {QStringLiteral("Férias"), QStringLiteral("São Paulo"), 12.5, QDate(2026, 1, 31)},
        {QStringLiteral("Ç"), QStringLiteral("aspas \" barra \\ tab\t fim"), 0.1,
         QDate(1900, 1, 1)},
        {QStringLiteral("linha\nnova\r\n"), QStringLiteral("ctrl \x01\x1f\x7f"), -0.4,
         QDate(2099, 12, 31)},
        {QVariant(), QVariant(), QVariant(), QVariant()},
        {QString(), QString(30, u'é'), 1e-7, QDate(2024, 2, 29)},
        {QStringLiteral("€ 😀"), QStringLiteral("C:\\Folha\\"), 1234567.891, QVariant()},
        {QStringLiteral("grande"), QString(), std::numeric_limits<double>::max(), QVariant()},
        {QStringLiteral("2^64"), QString(), 18446744073709551616.0, QVariant()},
        {QStringLiteral("2^70"), QString(), -1180591620717411303424.0, QVariant()},
        {QStringLiteral("mínimo"), QString(), std::numeric_limits<double>::denorm_min(),
         QVariant()},
        {QStringLiteral("inteiro"), QString(), 9007199254740993.0, QVariant()},
        {QStringLiteral("zero"), QString(), 0.0, QVariant()},
    };
    return p;
}

// Large packets too: their texts get room from the first rows' lengths, and rows longer than
// those (and empty or null ones) must still come back whole and in place.
TEST(PacketJson, PacketsComeBackExactly) {
    DataPacket large = awkwardPacket();
    for (int i = 0; i < 600; ++i)
        large.rows.push_back({i % 5 ? QVariant(QStringLiteral("d%1").arg(i)) : QVariant(),
                              i % 7 ? QString(i / 8, u'á') : QString(), double(i), QVariant()});
    // A column held one byte a character changes form when the first text past Latin-1 comes.
    large.rows[300][1] = QStringLiteral("ÿ Ā – 😀");
    for (const DataPacket& sent : {awkwardPacket(), large}) {
        const std::string json = packetToJson(sent);
        EXPECT_EQ(json.find('\n'), std::string::npos) << "a packet must fit on one line";
        const DataPacket got = packetFromJson(json);
        EXPECT_EQ(got.fields, sent.fields);
        ASSERT_EQ(got.rows.size(), sent.rows.size());
        for (int r = 0; r < sent.rows.size(); ++r)
            expectSameRow(got.rows[r], sent.rows[r], QStringLiteral("row %1").arg(r));
    }
}

TEST(PacketJson, DeltasComeBackExactlyInTheirOrder) {
    const DataPacket rows = awkwardPacket();
    Delta sent{Fields, {}};
    sent.changes.push_back({DeltaChange::Op::Update, rows.rows[0], rows.rows[1]});
    sent.changes.push_back({DeltaChange::Op::Insert, {}, rows.rows[2]});
    sent.changes.push_back({DeltaChange::Op::Update, rows.rows[3], rows.rows[4]});
    sent.changes.push_back({DeltaChange::Op::Insert, {}, rows.rows[7]});
    const std::string json = deltaToJson(sent);
    EXPECT_EQ(json.find('\n'), std::string::npos);
    const Delta got = deltaFromJson(json);
    EXPECT_EQ(got.fields, sent.fields);
    ASSERT_EQ(got.changes.size(), sent.changes.size());
    for (int c = 0; c < sent.changes.size(); ++c) {
        const QString where = QStringLiteral("change %1").arg(c);
        EXPECT_EQ(got.changes[c].op, sent.changes[c].op) << c;
        expectSameRow(got.changes[c].oldValues, sent.changes[c].oldValues, where + " old");
        expectSameRow(got.changes[c].newValues, sent.changes[c].newValues, where + " new");
    }
}

TEST(PacketJson, WritesTheDocumentedShape) {
    Delta insertOnly{{{QStringLiteral("CDFILIAL"), FieldType::String, 4}},
                     {{DeltaChange::Op::Insert, {}, {QStringLiteral("0001")}}}};
    EXPECT_EQ(deltaToJson(insertOnly),
              R"({"fields":[{"name":"CDFILIAL","type":"string","size":4}],)"
              R"("changes":[{"op":"insert","new":["0001"]}]})");

    DataPacket p{{{QStringLiteral("CDPARAMRH"), FieldType::String, 1},
                  {QStringLiteral("VRPRAZEFEFUN"), FieldType::Float, 0},
                  {QStringLiteral("DTBASECB"), FieldType::Date, 0}},
                 {{QStringLiteral("1"), 90.0, QDate(2026, 1, 31)}}};
    EXPECT_EQ(packetToJson(p),
              R"({"fields":[{"name":"CDPARAMRH","type":"string","size":1},)"
              R"({"name":"VRPRAZEFEFUN","type":"float"},{"name":"DTBASECB","type":"date"}],)"
              R"("rows":[["1",90,"2026-01-31"]]})");
}

TEST(PacketJson, IntegersAreAcceptedForNumbers) {
    const DataPacket p = packetFromJson(R"({"fields":[{"name":"A","type":"float"}],)"
                                        R"("rows":[[90],[-5],[0],[18446744073709551615],[1E2]]})");
    ASSERT_EQ(p.rows.size(), 5);
    const double expected[] = {90.0, -5.0, 0.0, 18446744073709551615.0, 100.0};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(p.rows[i][0].typeId(), QMetaType::Double) << i;
        EXPECT_EQ(p.rows[i][0].toDouble(), expected[i]) << i;
    }
}

TEST(PacketJson, NullIsAValueOfEveryType) {
    const DataPacket p = packetFromJson(
        R"({"fields":[{"name":"S","type":"string","size":1},{"name":"F","type":"float"},{"name":"D","type":"date"}],)"
        R"("rows":[[null,null,null]]})");
    ASSERT_EQ(p.rows.size(), 1);
    for (const QVariant& v : p.rows[0])
        EXPECT_TRUE(v.isNull());
}

// The packet is refused with a message that names what is wrong.
void expectRefused(const std::string& json, const QString& expectedWords) {
    SCOPED_TRACE(json);
    try {
        packetFromJson(json);
        ADD_FAILURE() << "accepted";
    } catch (const ProtocolError& e) {
        for (const QString& word : expectedWords.split(u'|'))
            EXPECT_TRUE(e.message().contains(word))
                << e.message().toStdString() << " does not name " << word.toStdString();
    }
}

std::string onePacket(const char* fields, const char* rows) {
    return std::string(R"({"fields":[)") + fields + R"(],"rows":[)" + rows + "]}";
}

constexpr const char* Text4 = R"({"name":"CDFILIAL","type":"string","size":4})";
constexpr const char* Number = R"({"name":"VRTOLEAPON","type":"float"})";
constexpr const char* Day = R"({"name":"DTULTFECHRH","type":"date"})";

TEST(PacketJson, RefusesValuesOfTheWrongType) {
    const std::string fields = std::string(Text4) + "," + Number + "," + Day;
    expectRefused(onePacket(fields.c_str(), R"([1,1,"2026-01-05"])"), "CDFILIAL|texto|linha 1");
    expectRefused(onePacket(fields.c_str(), R"(["0001","1,5","2026-01-05"])"), "VRTOLEAPON|número");
    expectRefused(onePacket(fields.c_str(), R"(["0001",true,"2026-01-05"])"), "VRTOLEAPON|número");
    expectRefused(onePacket(fields.c_str(), R"(["0001",1,20260105])"), "DTULTFECHRH|data");
    expectRefused(onePacket(fields.c_str(), R"(["0001",1,"2026-01-05"],["0002",1,["x"]])"),
                  "DTULTFECHRH|linha 2");
}

TEST(PacketJson, RefusesInvalidDates) {
    for (const char* date : {"2026-02-30", "2026-1-5", "2026-13-01", "31/01/2026", "2026/01/05",
                             "2026-01-05T00:00:00", ""})
        expectRefused(onePacket(Day, (std::string(R"([")") + date + R"("])").c_str()),
                      QStringLiteral("DTULTFECHRH|%1").arg(QString::fromLatin1(date)));
}

TEST(PacketJson, RefusesRowsOfTheWrongLength) {
    const std::string fields = std::string(Text4) + "," + Number;
    expectRefused(onePacket(fields.c_str(), R"(["0001",1],["0002"])"),
                  "linha 2|1 valores|2 campos");
    expectRefused(onePacket(fields.c_str(), R"(["0001",1,null])"), "linha 1|3 valores");
    expectRefused(onePacket(fields.c_str(), R"({"CDFILIAL":"0001"})"), "linha 1");
}

TEST(PacketJson, RefusesTextLongerThanItsField) {
    expectRefused(onePacket(Text4, R"(["00001"])"), "CDFILIAL|4 caracteres");
    // Characters as the desktop counts them (UTF-16 units), not bytes.
    const struct {
        const char* row;
        bool fits;
    } cases[] = {{R"(["ÇÃÉÍ"])", true}, {R"(["ÇÃÉÍÓ"])", false}, {R"(["😀😀"])", true},
                 {R"(["😀😀a"])", false}, {R"(["€€€€"])", true},   {R"(["\u00e7\u00e3ab"])", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.row);
        if (c.fits)
            EXPECT_NO_THROW(packetFromJson(onePacket(Text4, c.row)));
        else
            expectRefused(onePacket(Text4, c.row), "CDFILIAL|4 caracteres");
    }
}

TEST(PacketJson, RefusesBadFieldLists) {
    expectRefused(onePacket(R"({"name":"X","type":"blob"})", ""), "X|blob");
    expectRefused(onePacket(R"({"name":"X","type":"string"})", ""), "X|tamanho");
    expectRefused(onePacket(R"({"name":"X","type":"string","size":0})", ""), "X|tamanho");
    expectRefused(onePacket(R"({"name":"","type":"float"})", ""), "sem nome");
    expectRefused(onePacket(R"({"type":"float"})", ""), "campo");
    expectRefused(
        onePacket((std::string(Text4) + R"(,{"name":"cdfilial","type":"float"})").c_str(), ""),
        "cdfilial|duas vezes");
    expectRefused(R"({"rows":[]})", "campos");
    expectRefused(R"({"fields":[]})", "linhas");
    expectRefused(R"([])", "objeto");
}

TEST(PacketJson, RefusesTextThatIsNotJson) {
    for (const char* text :
         {"", "{", R"({"fields":[],"rows":[],})", "{'fields':[]}", R"({"fields":[],"rows":[]} x)",
          // half of a surrogate pair is no character
          R"({"fields":[{"name":"X","type":"string","size":4}],"rows":[["a\ud800"]]})"})
        expectRefused(text, "JSON");
}

TEST(PacketJson, RefusesBadDeltas) {
    const std::string head = std::string(R"({"fields":[)") + Text4 + R"(],"changes":[)";
    auto refused = [&](const std::string& changes, const QString& words) {
        SCOPED_TRACE(changes);
        try {
            deltaFromJson(head + changes + "]}");
            ADD_FAILURE() << "accepted";
        } catch (const ProtocolError& e) {
            for (const QString& word : words.split(u'|'))
                EXPECT_TRUE(e.message().contains(word)) << e.message().toStdString();
        }
    };
    refused(R"({"op":"update","new":["0001"]})", "alteração 1|antigos");
    refused(R"({"op":"insert","new":["0001"]},{"op":"insert"})", "alteração 2|novos");
    refused(R"({"op":"delete","old":["0001"]})", "delete");
    refused(R"({"new":["0001"]})", "operação");
    refused(R"({"op":"update","old":["0001"],"new":["00002"]})", "CDFILIAL|4 caracteres");
    refused(R"({"op":"update","old":["0001",1],"new":["0002"]})", "2 valores");
    EXPECT_THROW(deltaFromJson(std::string(R"({"fields":[)") + Text4 + "]}"), ProtocolError);
}

// Fields and changes past their bounds are refused as too large, before any row is read; just
// under the bounds they are ordinary packets.
TEST(PacketJson, BoundsOnFieldsAndChanges) {
    const auto fieldList = [](int n) {
        std::string out;
        for (int i = 0; i < n; ++i)
            out += (i ? "," : "") + std::string(R"({"name":"F)") + std::to_string(i) +
                   R"(","type":"float"})";
        return out;
    };
    const auto changeList = [](int n) {
        std::string out;
        for (int i = 0; i < n; ++i)
            out += std::string(i ? "," : "") + R"({"op":"insert","new":[null]})";
        return out;
    };
    const std::string oneField = R"({"name":"F","type":"float"})";
    struct Case {
        std::string json;
        bool delta;
        bool tooLarge;
    };
    const Case cases[] = {
        {"{\"fields\":[" + fieldList(MaxFields) + "],\"rows\":[]}", false, false},
        {"{\"fields\":[" + fieldList(MaxFields + 1) + "],\"rows\":[]}", false, true},
        {"{\"fields\":[" + fieldList(MaxFields + 1) + "],\"changes\":[]}", true, true},
        {"{\"fields\":[" + oneField + "],\"changes\":[" + changeList(MaxChanges) + "]}", true,
         false},
        {"{\"fields\":[" + oneField + "],\"changes\":[" + changeList(MaxChanges + 1) + "]}", true,
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.json.substr(0, 60) + " " + std::to_string(c.json.size()));
        try {
            if (c.delta)
                EXPECT_EQ(deltaFromJson(c.json).changes.size(), MaxChanges);
            else
                EXPECT_EQ(packetFromJson(c.json).fields.size(), MaxFields);
            EXPECT_FALSE(c.tooLarge) << "accepted";
        } catch (const ProtocolError& e) {
            EXPECT_TRUE(c.tooLarge) << e.message().toStdString();
            EXPECT_EQ(e.kind(), ProtocolError::Kind::TooLarge);
            EXPECT_TRUE(e.message().contains(u"limite")) << e.message().toStdString();
        }
    }
    // Names that differ only in case are the same field, wherever they are in a long list.
    const std::string twins =
        "{\"fields\":[" + fieldList(200) + R"(,{"name":"f17","type":"date"}],"rows":[]})";
    try {
        packetFromJson(twins);
        ADD_FAILURE() << "accepted";
    } catch (const ProtocolError& e) {
        EXPECT_EQ(e.kind(), ProtocolError::Kind::Invalid);
        EXPECT_TRUE(e.message().contains(u"f17")) << e.message().toStdString();
    }
}

// The whole sentence, where the row or change is named in it: it reaches the user as it is.
TEST(PacketJson, RefusalsNameTheRowOrChangeInTheirWords) {
    const std::string fields = std::string(Text4) + "," + Number + "," + Day;
    const std::string deltaHead = std::string(R"({"fields":[)") + Text4 + R"(],"changes":[)";
    const struct {
        std::string json;
        bool delta;
        const char* sentence;
    } cases[] = {
        {onePacket(fields.c_str(), R"(["0001",1,"2026-01-05"],[2,1,"2026-01-05"])"), false,
         "a linha 2: o campo CDFILIAL espera texto"},
        {onePacket(fields.c_str(), R"(["0001",1,null],["0002","x",null],[])"), false,
         "a linha 2: o campo VRTOLEAPON espera um número"},
        {onePacket(fields.c_str(), R"(["0001",1,"2026-02-30"])"), false,
         "a linha 1: o campo DTULTFECHRH tem uma data inválida: 2026-02-30"},
        {onePacket(Text4, R"(["0001"],["0002"],["0003"],["00004"])"), false,
         "a linha 4: o texto do campo CDFILIAL passa de 4 caracteres"},
        {onePacket(fields.c_str(), R"(["0001",1])"), false,
         "a linha 1 tem 2 valores, mas o pacote tem 3 campos"},
        {onePacket(Text4, R"(["0001"],7)"), false, "a linha 2 não é uma lista de valores"},
        {deltaHead + R"({"op":"insert","new":["0001"]},{"op":"update","old":[1],"new":["2"]}]})",
         true, "a alteração 2: o campo CDFILIAL espera texto"},
        {deltaHead + R"({"op":"insert","new":["0001"]},{"op":"insert"}]})", true,
         "a alteração 2 não traz os valores novos"},
        {deltaHead + R"({"op":"remove","new":["0001"]}]})", true,
         "a alteração 1 tem uma operação desconhecida: remove"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.json);
        try {
            if (c.delta)
                deltaFromJson(c.json);
            else
                packetFromJson(c.json);
            ADD_FAILURE() << "accepted";
        } catch (const ProtocolError& e) {
            EXPECT_EQ(e.message(), QString::fromUtf8(c.sentence));
        }
    }
}

TEST(JsonWriter, RefusesNumbersJsonCannotHold) {
    JsonWriter w;
    EXPECT_THROW(w.number(std::numeric_limits<double>::infinity()), std::invalid_argument);
    EXPECT_THROW(w.number(std::numeric_limits<double>::quiet_NaN()), std::invalid_argument);
}

} // namespace
