#include "PgTesting.h"

#include "ServerHarness.h"

#include "server/Schema.h"
#include "server/Storage.h"

#include <gtest/gtest.h>

namespace testing_rh {

void dropEverything(const QString& url) {
    ensureApplication();
    QString error;
    const auto address = rhserver::DbAddress::parse(url, &error);
    ASSERT_TRUE(address) << error.toStdString();
    rhserver::Storage s(*address);
    ASSERT_TRUE(s.open(&error)) << error.toStdString();
    for (const char* table :
         {"RHAUDITORIA", "INSPPADRAO", "INSPDEPTO", "INSPCARGO", "PARAMFILIAL", "PARAMRH",
          "CODPICT", "INSPECAO", "DEPTO", "CARGO", "CONVMEDI", "INDICE", "FILIAL", "RHVERSAO"})
        s.execDirect(QStringLiteral("DROP TABLE IF EXISTS %1 CASCADE").arg(QLatin1String(table)));
}

void resetPostgres(const QString& url) {
    ASSERT_NO_FATAL_FAILURE(dropEverything(url));
    QString error;
    ASSERT_TRUE(rhserver::initDatabase(url, true, &error)) << error.toStdString();
}

} // namespace testing_rh
