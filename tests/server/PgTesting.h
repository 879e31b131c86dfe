#pragma once
// The PostgreSQL database that RH_TEST_PG names, made over for a test.

#include <QString>

namespace testing_rh {

// Drops every table of the service's schema.
void dropEverything(const QString& url);
// Drops every table and makes the demo database again.
void resetPostgres(const QString& url);

} // namespace testing_rh
