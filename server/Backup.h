#pragma once
// A copy of an SQLite database taken while servers keep writing to it.

#include <QString>

namespace rhserver {

// Writes a consistent copy of the database at the address to target, a file made 0600 that
// must not exist yet. False with a one-line reason (PostgreSQL is refused: pg_dump does that).
bool backupDatabase(const QString& db, const QString& target, QString* error);

} // namespace rhserver
