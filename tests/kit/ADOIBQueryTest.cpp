// The shared-database query against a real SQLite file: parameters from the statement, the
// code-or-all convention with null parameters, typed fields and refusals.

#include "ADOIBQuery.h"
#include "Exceptions.h"
#include "RecordingHost.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

class ADOIBQueryTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        auto db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE")); // the host's default connection
        db.setDatabaseName(dir.filePath(QStringLiteral("ref.db")));
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        ASSERT_TRUE(
            q.exec(QStringLiteral("CREATE TABLE INDICE (CDINDICE VARCHAR(4), NMINDICE VARCHAR(30), "
                                  "CDTPINDICE VARCHAR(1), IDPERVALOR VARCHAR(1), VALOR DOUBLE)")));
        for (const char* row :
             {"('0003','IGP-M','2','1',1.5)", "('0001','IPCA','2','1',2)",
              "('0002','Cesta SP','2','2',NULL)", "('0009','Outro tipo','1','1',0)",
              "('0004','O''Brien ç','2','1',3)"})
            ASSERT_TRUE(
                q.exec(QStringLiteral("INSERT INTO INDICE VALUES ") + QString::fromUtf8(row)));
        query.SQL = {QStringLiteral("SELECT NMINDICE, CDINDICE, VALOR FROM INDICE"),
                     QStringLiteral("WHERE CDTPINDICE= '2' AND IDPERVALOR = :PERVALOR  AND"),
                     QStringLiteral("   (CDINDICE = :CDINDICE OR :TCDINDICE = 'T' )"),
                     QStringLiteral("ORDER BY CDINDICE")};
        query.SQL_IB = query.SQL;
        query.Query.AddField({QStringLiteral("NMINDICE"), FieldType::String, 30});
        query.Query.AddField({QStringLiteral("CDINDICE"), FieldType::String, 4});
        query.Query.AddField({QStringLiteral("VALOR"), FieldType::Float, 0});
    }
    void TearDown() override {
        QSqlDatabase::removeDatabase(QString::fromLatin1(QSqlDatabase::defaultConnection));
    }

    QStringList codes() {
        QStringList out;
        for (query.Query.First(); !query.Query.Eof(); query.Query.Next())
            out << query.Query.FieldByName(QStringLiteral("CDINDICE")).AsString();
        return out;
    }

    RecordingHost host;
    QTemporaryDir dir;
    TADOIBQuery query{QStringLiteral("qryTeste")};
};

TEST_F(ADOIBQueryTest, ParametersComeFromTheStatementInOrder) {
    QStringList names;
    for (const TParam& p : query.Params())
        names << p.Name;
    EXPECT_EQ(names, (QStringList{QStringLiteral("PERVALOR"), QStringLiteral("CDINDICE"),
                                  QStringLiteral("TCDINDICE")}));
    EXPECT_THROW(query.ParamByName(QStringLiteral("NADA")), EDatabaseError);
}

TEST_F(ADOIBQueryTest, AllRowsWithTheSwitchOrOneCodeWithANullSwitch) {
    query.ParamByName(QStringLiteral("PERVALOR")).SetAsString(QStringLiteral("1"));
    query.ParamByName(QStringLiteral("CDINDICE")).Clear();
    query.ParamByName(QStringLiteral("TCDINDICE")).SetAsString(QStringLiteral("T"));
    query.Open();
    EXPECT_EQ(codes(), (QStringList{QStringLiteral("0001"), QStringLiteral("0003"),
                                    QStringLiteral("0004")}));

    query.Close();
    query.ParamByName(QStringLiteral("CDINDICE")).SetAsString(QStringLiteral("0003"));
    query.ParamByName(QStringLiteral("TCDINDICE")).Clear();
    query.Open();
    ASSERT_EQ(query.Query.RecordCount(), 1);
    EXPECT_EQ(query.Query.FieldByName(QStringLiteral("NMINDICE")).AsString(),
              QStringLiteral("IGP-M"));
    EXPECT_DOUBLE_EQ(query.Query.FieldByName(QStringLiteral("VALOR")).AsFloat(), 1.5);

    // A code of the other kind, or of another index type, is not found.
    query.ParamByName(QStringLiteral("CDINDICE")).SetAsString(QStringLiteral("0002"));
    query.Open();
    EXPECT_TRUE(query.IsEmpty());
    query.ParamByName(QStringLiteral("CDINDICE")).SetAsString(QStringLiteral("0009"));
    query.Open();
    EXPECT_TRUE(query.IsEmpty());
}

TEST_F(ADOIBQueryTest, HostileParameterTextIsOnlyData) {
    query.ParamByName(QStringLiteral("PERVALOR")).SetAsString(QStringLiteral("1' OR '1'='1"));
    query.ParamByName(QStringLiteral("CDINDICE")).SetAsString(QStringLiteral("0001' --"));
    query.ParamByName(QStringLiteral("TCDINDICE")).Clear();
    query.Open();
    EXPECT_TRUE(query.IsEmpty());
    query.ParamByName(QStringLiteral("PERVALOR")).SetAsString(QStringLiteral("1"));
    query.ParamByName(QStringLiteral("CDINDICE")).SetAsString(QStringLiteral("0004"));
    query.Open();
    EXPECT_EQ(query.Query.FieldByName(QStringLiteral("NMINDICE")).AsString(),
              QStringLiteral("O'Brien ç"));
}

TEST_F(ADOIBQueryTest, ABrokenStatementRaisesAndKeepsTheLastResult) {
    query.ParamByName(QStringLiteral("PERVALOR")).SetAsString(QStringLiteral("2"));
    query.ParamByName(QStringLiteral("TCDINDICE")).SetAsString(QStringLiteral("T"));
    query.Open();
    ASSERT_EQ(query.Query.RecordCount(), 1);
    query.SQL = {QStringLiteral("SELECT FROM ONDE :X")};
    EXPECT_THROW(query.Open(), EDatabaseError);
    EXPECT_EQ(query.Query.RecordCount(), 1);
    EXPECT_EQ(codes(), QStringList{QStringLiteral("0002")});
}

} // namespace
