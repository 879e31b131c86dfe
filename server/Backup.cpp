#include "Backup.h"

#include "Storage.h"

#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <unistd.h>

namespace rhserver {

bool backupDatabase(const QString& db, const QString& target, QString* error) {
    const auto address = DbAddress::parse(db, error);
    if (!address) return false;
    if (address->engine != Engine::SQLite) {
        *error = QStringLiteral("--backup copia só bancos SQLite; para PostgreSQL use pg_dump.");
        return false;
    }
    if (QFileInfo(target).absoluteFilePath() == QFileInfo(address->path).absoluteFilePath()) {
        *error = QStringLiteral("a cópia deve ir para outro arquivo, não para o próprio banco.");
        return false;
    }
    // Made here first, so the copy is the owner's alone from its first byte.
    QFile file(target);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly,
                   QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        *error =
            QFileInfo::exists(target)
                ? QStringLiteral("o arquivo %1 já existe; escolha outro nome para a cópia.")
                      .arg(target)
                : QStringLiteral("não foi possível criar %1: %2.").arg(target, file.errorString());
        return false;
    }
    file.close();
    Storage storage(*address);
    bool done = false;
    if (storage.open(error)) {
        // One read transaction: the copy holds every write committed before it began, and the
        // servers on the file keep writing meanwhile (WAL readers do not block writers).
        QSqlQuery q(storage.db());
        q.prepare(QStringLiteral("VACUUM INTO ?"));
        q.addBindValue(QFileInfo(target).absoluteFilePath());
        done = q.exec();
        if (!done)
            *error = QStringLiteral("não foi possível copiar o banco %1: %2.")
                         .arg(address->path, q.lastError().text());
    }
    // SQLite does not sync the file VACUUM INTO writes; a backup reported done must be on disk.
    if (done && !(file.open(QIODevice::ReadWrite) && ::fsync(file.handle()) == 0)) {
        *error = QStringLiteral("não foi possível gravar a cópia %1 no disco: %2.")
                     .arg(target, file.errorString());
        done = false;
    }
    file.close();
    if (!done) QFile::remove(target);
    return done;
}

} // namespace rhserver
