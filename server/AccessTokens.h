#pragma once
// The tokens a server accepts at open, each with a name (written in the audit) and a role.

#include <QString>
#include <QVector>

namespace rhserver {

enum class Role { Admin, Reader };

struct AccessToken {
    QString name;
    Role role = Role::Admin;
    QString secret;
};

// The text of a token file: one token per line as "NAME ROLE TOKEN", separated by blanks or
// tabs, ROLE "admin" or "leitura"; blank lines and lines starting with # are ignored. A file
// holding one word alone is a single admin token named "admin". False with the reason otherwise.
bool parseTokenFile(const QString& text, QVector<AccessToken>* tokens, QString* error);

// The shortest token a server starts with.
inline constexpr int MinTokenLength = 20;

// The same, read from a file of mode 0600 or 0400, every token at least MinTokenLength long;
// false with the reason otherwise.
bool readTokenFile(const QString& path, QVector<AccessToken>* tokens, QString* error);

QString roleName(Role role);

} // namespace rhserver
