#pragma once
// The PostgreSQL database that RH_TEST_PG names, made over for a test.

#include <QSqlDatabase>
#include <QString>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace testing_rh {

// Drops every table of the service's schema.
void dropEverything(const QString& url);
// Drops every table and makes the demo database again.
void resetPostgres(const QString& url);

// The demo database in an SQLite file of its own, gone with the object.
struct DemoSqlite {
    DemoSqlite();
    QTemporaryDir dir;
    QString url;
};

// A PostgreSQL primary with a synchronous standby of its own (postgres-pair.sh) on free ports,
// gone with the object. Nothing is started where PostgreSQL's server programs are missing.
class PostgresPair {
public:
    PostgresPair();
    ~PostgresPair();
    PostgresPair(const PostgresPair&) = delete;
    PostgresPair& operator=(const PostgresPair&) = delete;

    bool missing() const { return m_missing; }
    bool started() const { return m_started; }
    const QString& output() const { return m_output; } // of the last command, for a failure
    QString primaryUrl() const;
    // The primary's commits wait from now on for a standby that is not there.
    bool stopStandby();

private:
    int run(const QStringList& args);

    QTemporaryDir m_dir;
    QString m_output;
    int m_primaryPort = 0;
    bool m_missing = false;
    bool m_started = false;
};

// A test on the database RH_TEST_PG names, made over before it; skipped without that variable.
class PostgresTest : public ::testing::Test {
protected:
    void SetUp() override {
        url = qEnvironmentVariable("RH_TEST_PG");
        if (url.isEmpty()) GTEST_SKIP() << "RH_TEST_PG não definido";
        ASSERT_NO_FATAL_FAILURE(resetPostgres(url));
    }

    QString url;
};

// A plain connection of the test's own to the PostgreSQL database, beside the service's.
class PgSide {
public:
    explicit PgSide(const QString& url);
    ~PgSide();
    PgSide(const PgSide&) = delete;
    PgSide& operator=(const PgSide&) = delete;
    // The first column of the first row, as text.
    QString value(const QString& sql);
    // Cuts every database connection of the services of a process (this one by default), as a
    // database restart does.
    int cutServiceConnections(qint64 pid = 0);

private:
    static inline int s_count = 0;
    QString m_name;
    QSqlDatabase m_db;
};

} // namespace testing_rh
