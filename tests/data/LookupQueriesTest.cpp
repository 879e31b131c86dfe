// The screen's lookup queries, read through the embedded service on the demo reference tables, on
// SQLite and (with RH_TEST_PG) on PostgreSQL: what each returns, in which order, and that typed
// text stays data.

#include "LookupQueries.h"
#include "Desktop.h"
#include "server/Schema.h"
#include "server/Storage.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

QCoreApplication& application() {
    static int argc = 1;
    static char name[] = "data_lookup_tests";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

// The desktop and its embedded service on a fresh demo database of the engine; false when it
// cannot be had.
bool openDemo(const QString& engine, QTemporaryDir& dir, Desktop& desktop, std::string* why) {
    application();
    QString url, error;
    if (engine == u"sqlite") {
        url = QStringLiteral("sqlite:") + dir.filePath(QStringLiteral("rh.db"));
    } else {
        url = qEnvironmentVariable("RH_TEST_PG");
        if (url.isEmpty()) return false;
        const auto address = rhserver::DbAddress::parse(url, &error);
        rhserver::Storage reset(*address);
        if (!reset.open(&error)) {
            *why = error.toStdString();
            return false;
        }
        for (const char* table :
             {"RHAUDITORIA", "INSPPADRAO", "INSPDEPTO", "INSPCARGO", "PARAMFILIAL", "PARAMRH",
              "CODPICT", "INSPECAO", "DEPTO", "CARGO", "CONVMEDI", "INDICE", "FILIAL", "RHVERSAO"})
            reset.execDirect(
                QStringLiteral("DROP TABLE IF EXISTS %1 CASCADE").arg(QLatin1String(table)));
    }
    DesktopOptions options;
    options.db = url;
    options.dataFolder = dir.path();
    desktop.services.unattended = true;
    setHostServices(&desktop.services);
    if (!desktop.start(options, &error)) {
        *why = error.toStdString();
        return false;
    }
    return true;
}

QStringList column(TADOIBQuery& query, const char* field) {
    QStringList values;
    for (int i = 0; i < query.Query.RecordCount(); ++i) {
        query.Query.MoveTo(i);
        values << query.Query.FieldByName(QString::fromLatin1(field)).AsString();
    }
    return values;
}

void setParams(TADOIBQuery& query, const QList<QPair<const char*, QVariant>>& values) {
    query.Close();
    for (const auto& [name, value] : values)
        query.ParamByName(QString::fromLatin1(name)).Value = value;
    query.Open();
}

class LookupQueries : public testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        std::string why;
        if (!openDemo(QString::fromLatin1(GetParam()), m_dir, m_desktop, &why)) {
            if (why.empty()) GTEST_SKIP() << "RH_TEST_PG não definido";
            FAIL() << why;
        }
        data::defineQryPesqIndice(m_pesqIndice);
        data::defineQryVdIndice(m_vdIndice);
        data::defineQryPesqFilial(m_filial);
    }
    void TearDown() override { setHostServices(nullptr); }
    QTemporaryDir m_dir;
    Desktop m_desktop;
    TADOIBQuery m_pesqIndice{QStringLiteral("qryPesqIndice")};
    TADOIBQuery m_vdIndice{QStringLiteral("qryVdIndice")};
    TADOIBQuery m_filial{QStringLiteral("qryPesqFilial")};
};

TEST_P(LookupQueries, IndexSearchListsOnlyKindTwoIndicesOfTheChosenKindByCode) {
    const QList<std::pair<QString, QStringList>> cases{
        {QStringLiteral("1"), {"0001", "0002", "0003"}},
        {QStringLiteral("2"), {"0010", "0011", "0012"}},
        {QStringLiteral("0"), {}}};
    for (const auto& [kind, codes] : cases) {
        setParams(m_pesqIndice, {{"PERVALOR", kind}, {"CDINDICE", {}}, {"TCDINDICE", "T"}});
        EXPECT_EQ(column(m_pesqIndice, "CDINDICE"), codes) << kind.toStdString();
        for (const QString& k : column(m_pesqIndice, "CDTPINDICE"))
            EXPECT_EQ(k, QStringLiteral("2"));
    }
    // The list shows name and code, in that order; the kinds stay hidden.
    QStringList visible;
    for (int i = 0; i < m_pesqIndice.Query.FieldCount(); ++i)
        if (m_pesqIndice.Query.Fields(i).Visible)
            visible << m_pesqIndice.Query.Fields(i).DisplayLabel;
    EXPECT_EQ(visible, (QStringList{"Nome", "Código"}));
}

TEST_P(LookupQueries, OneIndexOrOneBranchByCodeWithTheSwitchCleared) {
    const QList<std::tuple<QString, QString, QStringList>> indices{
        {"2", "0011", {"Cesta Básica DIEESE"}},
        {"1", "0011", {}},            // exists only as a value index
        {"2", "0021", {}},            // a kind-1 row is never found
        {"2", "0011' OR '1'='1", {}}, // typed text stays data
        {"2", QString(), {}}};        // a cleared code matches nothing
    for (const auto& [kind, code, names] : indices) {
        setParams(m_vdIndice, {{"PERVALOR", kind},
                               {"CDINDICE", code.isNull() ? QVariant() : QVariant(code)},
                               {"TCDINDICE", {}}});
        EXPECT_EQ(column(m_vdIndice, "NMINDICE"), names) << code.toStdString();
    }
    setParams(m_filial, {{"CDFILIAL", {}}, {"TCDFILIAL", "T"}});
    EXPECT_EQ(column(m_filial, "CDFILIAL"), (QStringList{"0001", "0002", "0003", "0004", "0005"}));
    setParams(m_filial, {{"CDFILIAL", "0003"}, {"TCDFILIAL", {}}});
    EXPECT_EQ(column(m_filial, "NMFILIAL"), QStringList{"Filial Belo Horizonte"});
    setParams(m_filial, {{"CDFILIAL", "0003"}, {"TCDFILIAL", "T"}});
    EXPECT_EQ(m_filial.Query.RecordCount(), 5);
    setParams(m_filial, {{"CDFILIAL", "9999"}, {"TCDFILIAL", {}}});
    EXPECT_TRUE(m_filial.IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(Engines, LookupQueries, testing::Values("sqlite", "postgresql"));

} // namespace
