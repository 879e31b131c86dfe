#pragma once
// Files that hold secrets (access tokens): read only while nobody but their owner may read or
// change them.

#include <QByteArray>
#include <QString>
#include <optional>

namespace protocol {

// The file's contents when its mode is 0600 or 0400; otherwise nothing, with the reason (in
// Portuguese, naming the file and the chmod that mends it) in `error`.
std::optional<QByteArray> readSecretFile(const QString& path, QString* error);

} // namespace protocol
