#include "SecretFile.h"

#include <QFile>
#include <QFileInfo>

namespace protocol {

std::optional<QByteArray> readSecretFile(const QString& path, QString* error) {
    const QFileInfo info(path);
    // A group member or anyone else who can read the file can take the secret; one who can
    // write it can add their own.
    const auto others = QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup |
                        QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther |
                        QFileDevice::ExeOwner;
    if (info.exists() && (info.permissions() & others)) {
        *error = QStringLiteral("o arquivo %1 pode ser lido ou alterado por outros usuários; "
                                "restrinja-o com chmod 600 %1.")
                     .arg(path);
        return std::nullopt;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("não foi possível ler o arquivo %1.").arg(path);
        return std::nullopt;
    }
    return file.readAll();
}

} // namespace protocol
