#pragma once
// The PostgreSQL database that RH_TEST_PG names, made over for a test.

#include <QString>
#include <gtest/gtest.h>

namespace testing_rh {

// Drops every table of the service's schema.
void dropEverything(const QString& url);
// Drops every table and makes the demo database again.
void resetPostgres(const QString& url);

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

} // namespace testing_rh
