// The read methods and the questionnaire ties, called with the catalogue's argument orders.

#include "DemoServer.h"

#include "ClientDataSet.h"
#include "DataSets.h"
#include "contract/Layouts.h"

#include <QDate>
#include <QSqlDatabase>
#include <QSqlQuery>

#include <gtest/gtest.h>

using namespace testing_rh;
using protocol::Response;

namespace {

const int Refused = protocol::ErrorCode::Refused;

class ServiceMethods : public DemoServerTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(DemoServerTest::SetUp());
        ASSERT_NO_FATAL_FAILURE(serve());
        client = std::make_unique<LineClient>(server.port());
        ASSERT_TRUE(client->open(QStringLiteral("0001")).ok);
    }

    QString storedValue(const QString& sql) {
        return testing_rh::storedValue(server.dbPath(), sql);
    }

    Response call(const QString& method, const QStringList& args) {
        return call(*client, method, args);
    }
    static Response call(LineClient& c, const QString& method, const QStringList& args) {
        QVector<protocol::Argument> a;
        for (const QString& s : args)
            a.push_back(s);
        return c.call(method, a);
    }

    // The row of one questionnaire in GetInspecao of the last level, as the screen asks for it.
    QStringList flagsOf(LineClient& c, const QString& questionnaire) {
        const protocol::DataPacket p =
            packetOf(call(c, QStringLiteral("GetInspecao"), {QStringLiteral("1")}));
        const int code = p.indexOf(QStringLiteral("CDINSPECAO"));
        for (const protocol::Row& row : p.rows)
            if (row[code].toString() == questionnaire)
                return {row[p.indexOf(QStringLiteral("IDCARG"))].toString(),
                        row[p.indexOf(QStringLiteral("IDDEPT"))].toString(),
                        row[p.indexOf(QStringLiteral("IDPADR"))].toString()};
        ADD_FAILURE() << "questionário ausente: " << questionnaire.toStdString();
        return {};
    }

    QStringList ticked(LineClient& c, const QString& method, const QString& questionnaire,
                       const QString& codeField) {
        const protocol::DataPacket p = packetOf(call(c, method, {questionnaire}));
        const QStringList checks = column(p, QStringLiteral("IDCHECK")),
                          codes = column(p, codeField);
        QStringList out;
        for (int i = 0; i < checks.size(); ++i) {
            EXPECT_TRUE(checks[i] == QLatin1String("S") || checks[i] == QLatin1String("N"));
            if (checks[i] == QLatin1String("S")) out << codes[i];
        }
        return out;
    }

    std::unique_ptr<LineClient> client;
};

// Every packet carries the contract's layout, field for field, and loads into the screen's own
// record set, which is built from the same layout.
TEST_F(ServiceMethods, PacketsCarryTheContractsLayoutsAsTheScreensRecordSetsDo) {
    struct Case {
        QString method;
        QStringList args;
        const contract::Layout& layout;
        void (*define)(TClientDataSet&);
    };
    const Case cases[] = {
        {QStringLiteral("GetGeral"), {QStringLiteral("1")}, contract::geral(), data::defineGeral},
        {QStringLiteral("GetFilial"),
         {QStringLiteral("0001")},
         contract::filial(),
         data::defineFilial},
        {QStringLiteral("GetFilial"),
         {QStringLiteral("0004")},
         contract::filial(),
         data::defineFilial},
        {QStringLiteral("GetInspecao"),
         {QStringLiteral("1")},
         contract::inspecao(),
         data::defineInspecao},
        {QStringLiteral("GetCargo"),
         {QStringLiteral("01001")},
         contract::cargo(),
         data::defineCargo},
        {QStringLiteral("GetDepto"),
         {QStringLiteral("01002")},
         contract::depto(),
         data::defineDepto},
        {QStringLiteral("GetConvMed"),
         {QString(), QStringLiteral("T")},
         contract::convMedico(),
         data::defineVdConv},
        {QStringLiteral("GetHistorico"),
         {QString(), QString(), QString(), QString()},
         contract::history(),
         nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.method.toStdString());
        const protocol::DataPacket p = packetOf(call(c.method, c.args));
        EXPECT_EQ(p.fields, c.layout.fields);
        if (!c.define) continue;
        TClientDataSet screen;
        c.define(screen);
        ASSERT_EQ(p.fields.size(), screen.FieldCount());
        for (int i = 0; i < screen.FieldCount(); ++i)
            EXPECT_EQ(p.fields[i], screen.Fields(i).definition()) << i;
        EXPECT_NO_THROW(screen.SetData(p));
        EXPECT_EQ(screen.RecordCount(), p.rows.size());
    }
}

// The two records' own fields are columns of their tables, declared as the layout says: a text
// as VARCHAR of its size, a number as DOUBLE PRECISION, a date as DATE.
TEST_F(ServiceMethods, StoredFieldsAreDeclaredAsTheContractSays) {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("ddl"));
    db.setDatabaseName(server.dbPath());
    ASSERT_TRUE(db.open());
    for (const contract::Layout* layout : {&contract::geral(), &contract::filial()}) {
        SCOPED_TRACE(layout->table);
        QHash<QString, QString> declared;
        QSqlQuery q(db);
        ASSERT_TRUE(
            q.exec(QStringLiteral("PRAGMA table_info(%1)").arg(QLatin1String(layout->table))));
        while (q.next())
            declared.insert(q.value(1).toString(), q.value(2).toString());
        for (const protocol::FieldSpec& f : layout->storedFields()) {
            const QString expected =
                f.type == protocol::FieldType::String  ? QStringLiteral("VARCHAR(%1)").arg(f.size)
                : f.type == protocol::FieldType::Float ? QStringLiteral("DOUBLE PRECISION")
                                                       : QStringLiteral("DATE");
            EXPECT_EQ(declared.value(f.name), expected) << f.name.toStdString();
        }
    }
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("ddl"));
}

TEST_F(ServiceMethods, GeneralAndBranchRecordsJoinTheirDisplayNames) {
    const protocol::DataPacket geral =
        packetOf(call(QStringLiteral("GetGeral"), {QStringLiteral("1")}));
    ASSERT_EQ(geral.rows.size(), 1);
    const protocol::Row& g = geral.rows[0];
    EXPECT_EQ(g[geral.indexOf(QStringLiteral("CDPARAMRH"))].toString(), QStringLiteral("1"));
    const QString index = g[geral.indexOf(QStringLiteral("CDINDICECB"))].toString();
    EXPECT_EQ(g[geral.indexOf(QStringLiteral("NMINDICE"))].toString(),
              storedValue(
                  QStringLiteral("SELECT NMINDICE FROM INDICE WHERE CDINDICE = '%1'").arg(index)));
    EXPECT_EQ(g[geral.indexOf(QStringLiteral("DTBASECB"))].typeId(), QMetaType::QDate);

    const protocol::DataPacket filial =
        packetOf(call(QStringLiteral("GetFilial"), {QStringLiteral("0002")}));
    ASSERT_EQ(filial.rows.size(), 1);
    const protocol::Row& f = filial.rows[0];
    EXPECT_EQ(f[filial.indexOf(QStringLiteral("CDFILIAL"))].toString(), QStringLiteral("0002"));
    EXPECT_EQ(f[filial.indexOf(QStringLiteral("NMFILIAL"))].toString(),
              storedValue(QStringLiteral("SELECT NMFILIAL FROM FILIAL WHERE CDFILIAL = '0002'")));
    const QString plan = f[filial.indexOf(QStringLiteral("CDCONMEDDEF"))].toString();
    EXPECT_FALSE(plan.isEmpty());
    EXPECT_EQ(
        f[filial.indexOf(QStringLiteral("NMCONVMEDI"))].toString(),
        storedValue(
            QStringLiteral("SELECT NMCONVMEDI FROM CONVMEDI WHERE CDCONVMEDI = '%1'").arg(plan)));

    // A branch without a parameter row, and one that does not exist: fields but no rows.
    for (const QString& code : {QStringLiteral("0004"), QStringLiteral("9999")}) {
        const protocol::DataPacket empty = packetOf(call(QStringLiteral("GetFilial"), {code}));
        EXPECT_EQ(empty.fields.size(), 17);
        EXPECT_TRUE(empty.rows.isEmpty()) << code.toStdString();
    }
    // Only key "1" exists.
    EXPECT_TRUE(packetOf(call(QStringLiteral("GetGeral"), {QStringLiteral("2")})).rows.isEmpty());
}

// Values another program stored the way SQLite lets it are answered as they read, never as a
// broken packet: bytes that are not UTF-8, a date with a time, a text that is no day (no date), a
// number kept as text. A change made over what was answered is stored, not taken for a change
// made meanwhile by someone else.
TEST_F(ServiceMethods, ValuesStoredByOtherProgramsAreAnsweredAsTheyRead) {
    struct Case {
        const char* column;
        const char* stored;
        QVariant answered;
    };
    const Case cases[] = {
        {"NMDIRPONTO", "X'2F666F6C6861C3A9FF'", QStringLiteral("/folha\u00e9\ufffd")},
        {"NMDIRPONTO", "NULL", QVariant()},
        {"DTULTFECHRH", "'2026-12-08 10:30:00'", QDate(2026, 12, 8)},
        {"DTULTFECHRH", "'2024-02-29'", QDate(2024, 2, 29)},
        {"DTULTFECHRH", "'2026-02-30'", QVariant()},
        {"DTULTFECHRH", "'ontem'", QVariant()},
        {"VRTOLEAPON", "'12.5'", 12.5},
        {"DIFECHRH", "7", QStringLiteral("7")},
    };
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other"));
    db.setDatabaseName(server.dbPath());
    ASSERT_TRUE(db.open());
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.column) + " = " + c.stored);
        ASSERT_TRUE(QSqlQuery(db).exec(
            QStringLiteral("UPDATE PARAMFILIAL SET %1 = %2 WHERE CDFILIAL = '0002'")
                .arg(QLatin1String(c.column), QLatin1String(c.stored))));
        const protocol::DataPacket p =
            packetOf(call(QStringLiteral("GetFilial"), {QStringLiteral("0002")}));
        ASSERT_EQ(p.rows.size(), 1);
        const int at = p.indexOf(QLatin1String(c.column));
        const QVariant value = p.rows[0][at];
        EXPECT_EQ(value.isNull(), c.answered.isNull());
        if (!c.answered.isNull()) {
            EXPECT_EQ(value, c.answered);
        }
        protocol::Delta change;
        change.fields = {p.fields[p.indexOf(QStringLiteral("CDFILIAL"))], p.fields[at]};
        const QVariant then =
            p.fields[at].type == protocol::FieldType::Date    ? QVariant(QDate(2026, 1, 15))
            : p.fields[at].type == protocol::FieldType::Float ? QVariant(3.0)
                                                              : QVariant(QStringLiteral("9"));
        change.changes << protocol::DeltaChange{protocol::DeltaChange::Op::Update,
                                                {QStringLiteral("0002"), value},
                                                {QStringLiteral("0002"), then}};
        const Response written = client->call(QStringLiteral("SetFilial"), {change});
        EXPECT_TRUE(written.ok) << written.errorMessage.toStdString();
    }
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("other"));
}

TEST_F(ServiceMethods, MedicalPlansAllWithTOrOneByCode) {
    const QStringList all =
        column(packetOf(call(QStringLiteral("GetConvMed"), {QString(), QStringLiteral("T")})),
               QStringLiteral("CDCONVMEDI"));
    EXPECT_EQ(all.size(), storedValue(QStringLiteral("SELECT COUNT(*) FROM CONVMEDI")).toInt());
    QStringList sorted = all;
    sorted.sort();
    EXPECT_EQ(all, sorted);
    ASSERT_GE(all.size(), 2);
    // "T" lists everything whatever the code says.
    EXPECT_EQ(column(packetOf(call(QStringLiteral("GetConvMed"), {all[1], QStringLiteral("T")})),
                     QStringLiteral("CDCONVMEDI")),
              all);
    const protocol::DataPacket one =
        packetOf(call(QStringLiteral("GetConvMed"), {all[1], QString()}));
    EXPECT_EQ(column(one, QStringLiteral("CDCONVMEDI")), QStringList{all[1]});
    EXPECT_EQ(column(one, QStringLiteral("NMCONVMEDI")),
              QStringList{storedValue(
                  QStringLiteral("SELECT NMCONVMEDI FROM CONVMEDI WHERE CDCONVMEDI = '%1'")
                      .arg(all[1]))});
    // Without "T" only the plan of that code: an empty code is no plan, not all of them.
    for (const QString& code : {QStringLiteral("ZZ"), QString()})
        EXPECT_TRUE(packetOf(call(QStringLiteral("GetConvMed"), {code, QString()})).rows.isEmpty())
            << code.toStdString();
}

TEST_F(ServiceMethods, QuestionnaireLevelSelectsCodesOfThatLevelsLength) {
    const QString mask =
        storedValue(QStringLiteral("SELECT DSMASCARA FROM CODPICT WHERE CDTPPICT = 12"));
    const QStringList segments = mask.split(u'.');
    ASSERT_GE(segments.size(), 2);
    int length = 0;
    for (int level = 0; level < segments.size(); ++level) {
        length += int(segments[level].size());
        const QStringList codes =
            column(packetOf(call(QStringLiteral("GetInspecao"), {QString::number(level)})),
                   QStringLiteral("CDINSPECAO"));
        EXPECT_EQ(codes.size(),
                  storedValue(
                      QStringLiteral("SELECT COUNT(*) FROM INSPECAO WHERE LENGTH(CDINSPECAO) = %1")
                          .arg(length))
                      .toInt());
        QStringList sorted = codes;
        sorted.sort();
        EXPECT_EQ(codes, sorted);
        for (const QString& c : codes)
            EXPECT_EQ(c.size(), length) << c.toStdString();
    }
    // The last level, as the screen passes it, lists several questionnaires.
    EXPECT_GE(packetOf(call(QStringLiteral("GetInspecao"), {QString::number(segments.size() - 1)}))
                  .rows.size(),
              3);
    for (const QString& outside : {QString::number(segments.size()), QStringLiteral("-1")})
        EXPECT_TRUE(packetOf(call(QStringLiteral("GetInspecao"), {outside})).rows.isEmpty());
    for (const QString& bad : {QStringLiteral("x"), QString(), QStringLiteral("1.5")})
        EXPECT_EQ(call(QStringLiteral("GetInspecao"), {bad}).errorCode,
                  protocol::ErrorCode::InvalidParams);
}

// Writes name their branch; reads report the branch of the session that asks.
TEST_F(ServiceMethods, TiesSetFlagsForTheirBranchOnly) {
    LineClient other(server.port());
    ASSERT_TRUE(other.open(QStringLiteral("0003")).ok);
    const QString q = QStringLiteral("02003");
    ASSERT_EQ(flagsOf(*client, q), (QStringList{"N", "N", "N"}));

    // A tie written from the other session for branch 0001 shows in 0001's session only.
    EXPECT_TRUE(call(other, QStringLiteral("SetInsCarg"), {"0001", q, "0005"}).ok);
    EXPECT_TRUE(call(QStringLiteral("SetInsCarg"), {"0001", q, "0007"}).ok);
    EXPECT_EQ(flagsOf(*client, q), (QStringList{"S", "N", "N"}));
    EXPECT_EQ(flagsOf(other, q), (QStringList{"N", "N", "N"}));
    EXPECT_EQ(ticked(*client, QStringLiteral("GetCargo"), q, QStringLiteral("CDCARGO")),
              (QStringList{"0005", "0007"}));
    EXPECT_TRUE(ticked(other, QStringLiteral("GetCargo"), q, QStringLiteral("CDCARGO")).isEmpty());

    EXPECT_TRUE(call(QStringLiteral("SetInsDep"), {q, "0001", "007"}).ok);
    EXPECT_TRUE(call(QStringLiteral("SetInsPad"), {q, "0001"}).ok);
    EXPECT_EQ(flagsOf(*client, q), (QStringList{"S", "S", "S"}));
    EXPECT_EQ(ticked(*client, QStringLiteral("GetDepto"), q, QStringLiteral("CDDEPTO")),
              QStringList{"007"});
    EXPECT_EQ(flagsOf(other, q), (QStringList{"N", "N", "N"}));

    // Ties of the same questionnaire for another branch survive the removals below.
    EXPECT_TRUE(call(QStringLiteral("SetInsCarg"), {"0003", q, "0001"}).ok);
    EXPECT_TRUE(call(QStringLiteral("SetInsDep"), {q, "0003", "001"}).ok);
    EXPECT_TRUE(call(QStringLiteral("SetDelCarg"), {"0001", q, "0005"}).ok);
    EXPECT_EQ(ticked(*client, QStringLiteral("GetCargo"), q, QStringLiteral("CDCARGO")),
              QStringList{"0007"});
    EXPECT_TRUE(call(QStringLiteral("SetDelTdCarg"), {"0001", q}).ok);
    EXPECT_EQ(flagsOf(*client, q), (QStringList{"N", "S", "S"}));
    EXPECT_TRUE(call(QStringLiteral("SetDelTdDep"), {"0001", q}).ok);
    EXPECT_TRUE(call(QStringLiteral("SetDelPad"), {q, "0001"}).ok);
    EXPECT_EQ(flagsOf(*client, q), (QStringList{"N", "N", "N"}));
    EXPECT_EQ(flagsOf(other, q), (QStringList{"S", "S", "N"}));
    EXPECT_EQ(ticked(other, QStringLiteral("GetCargo"), q, QStringLiteral("CDCARGO")),
              QStringList{"0001"});
    EXPECT_EQ(ticked(other, QStringLiteral("GetDepto"), q, QStringLiteral("CDDEPTO")),
              QStringList{"001"});
    EXPECT_TRUE(call(QStringLiteral("SetDelDep"), {q, "0003", "001"}).ok);
    EXPECT_EQ(flagsOf(other, q), (QStringList{"S", "N", "N"}));
}

TEST_F(ServiceMethods, RepeatedInsertAndMissingDeleteSucceedWithoutChange) {
    const QString q = QStringLiteral("01003");
    for (int i = 0; i < 2; ++i) {
        EXPECT_TRUE(call(QStringLiteral("SetInsCarg"), {"0001", q, "0004"}).ok);
        EXPECT_TRUE(call(QStringLiteral("SetInsDep"), {q, "0001", "004"}).ok);
        EXPECT_TRUE(call(QStringLiteral("SetInsPad"), {q, "0001"}).ok);
    }
    EXPECT_EQ(ticked(*client, QStringLiteral("GetCargo"), q, QStringLiteral("CDCARGO")),
              QStringList{"0004"});
    const QString before = dumpStoredData(server.dbPath());
    EXPECT_TRUE(call(QStringLiteral("SetDelCarg"), {"0001", q, "0009"}).ok);
    EXPECT_TRUE(call(QStringLiteral("SetDelDep"), {q, "0001", "009"}).ok);
    EXPECT_TRUE(call(QStringLiteral("SetDelPad"), {"01002", "0001"}).ok);
    EXPECT_TRUE(call(QStringLiteral("SetDelTdCarg"), {"0004", q}).ok);
    EXPECT_EQ(dumpStoredData(server.dbPath()), before);
}

// Each write with its two code arguments swapped names codes that do not exist: refused, and
// nothing changes; the catalogue's order then works.
TEST_F(ServiceMethods, AssociationArgumentOrderIsTheCatalogues) {
    struct Case {
        const char* method;
        QStringList right;
    };
    const Case cases[] = {
        {"SetInsCarg", {"0001", "01002", "0003"}}, {"SetDelCarg", {"0001", "01001", "0001"}},
        {"SetInsDep", {"01003", "0001", "005"}},   {"SetDelDep", {"01002", "0001", "001"}},
        {"SetDelTdCarg", {"0001", "01001"}},       {"SetDelTdDep", {"0001", "01002"}},
        {"SetInsPad", {"01003", "0001"}},          {"SetDelPad", {"01001", "0001"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.method);
        QStringList swapped = c.right;
        swapped.swapItemsAt(0, 1);
        const QString before = dumpStoredData(server.dbPath());
        const Response refused = call(QString::fromLatin1(c.method), swapped);
        EXPECT_EQ(refused.errorCode, Refused);
        EXPECT_TRUE(refused.errorMessage.endsWith(u'.')) << refused.errorMessage.toStdString();
        EXPECT_EQ(dumpStoredData(server.dbPath()), before);
        EXPECT_TRUE(call(QString::fromLatin1(c.method), c.right).ok);
    }
    const QString q = QStringLiteral("01002");
    EXPECT_EQ(flagsOf(*client, QStringLiteral("01001")), (QStringList{"N", "N", "N"}));
    EXPECT_EQ(flagsOf(*client, QStringLiteral("01003")), (QStringList{"N", "S", "S"}));
    EXPECT_EQ(flagsOf(*client, q), (QStringList{"S", "N", "N"}));
}

TEST_F(ServiceMethods, UnknownCodesAreRefusedInEveryPosition) {
    const QString before = dumpStoredData(server.dbPath());
    const QStringList refused[] = {
        {"SetInsCarg", "0009", "01001", "0001"},
        {"SetInsCarg", "0001", "09001", "0001"},
        {"SetInsCarg", "0001", "01001", "0099"},
        {"SetDelCarg", "0001", "01001", "9999"},
        {"SetInsDep", "01001", "0001", "099"},
        {"SetInsDep", "01001", "0009", "001"},
        {"SetDelDep", "99999", "0001", "001"},
        {"SetDelTdCarg", "0001", "0101"},
        {"SetDelTdDep", "", "01001"},
        {"SetInsPad", "01001", "0001 "},
        {"SetDelPad", "01001", "0000"},
        {"SetInsCarg", "0001", "01001", "001"},
    };
    for (const QStringList& c : refused) {
        SCOPED_TRACE(c.join(u' ').toStdString());
        const Response r = call(c[0], c.mid(1));
        EXPECT_EQ(r.errorCode, Refused);
        EXPECT_FALSE(r.errorMessage.isEmpty());
    }
    EXPECT_EQ(dumpStoredData(server.dbPath()), before);
    EXPECT_TRUE(auditRows(server.dbPath()).isEmpty());
}

} // namespace
