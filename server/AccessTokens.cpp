#include "AccessTokens.h"

#include "protocol/SecretFile.h"

#include <QRegularExpression>

namespace rhserver {

bool readTokenFile(const QString& path, QVector<AccessToken>* tokens, QString* error) {
    const std::optional<QByteArray> text = protocol::readSecretFile(path, error);
    if (!text) return false;
    if (!parseTokenFile(QString::fromUtf8(*text), tokens, error)) {
        *error = QStringLiteral("%1 (%2).").arg(*error, path);
        return false;
    }
    // A short token is guessed in moments, however slowly guesses are answered.
    for (const AccessToken& t : std::as_const(*tokens))
        if (t.secret.size() < MinTokenLength) {
            *error = QStringLiteral("o token de %1 tem menos de %2 caracteres; use um token "
                                    "longo e aleatório (%3).")
                         .arg(t.name)
                         .arg(MinTokenLength)
                         .arg(path);
            return false;
        }
    return true;
}

QString roleName(Role role) {
    return role == Role::Admin ? QStringLiteral("admin") : QStringLiteral("leitura");
}

bool parseTokenFile(const QString& text, QVector<AccessToken>* tokens, QString* error) {
    tokens->clear();
    static const QRegularExpression blanks(QStringLiteral("[ \t]+"));
    static const QRegularExpression validName(QStringLiteral("^[A-Za-z0-9._@-]{1,60}$"));
    // Comments and blank lines go first: a file of comments alone holds no token.
    QVector<QPair<int, QString>> lines; // line number, text
    const QStringList all = text.split(u'\n');
    for (int n = 0; n < all.size(); ++n) {
        const QString line = all[n].trimmed();
        if (!line.isEmpty() && !line.startsWith(u'#')) lines.push_back({n + 1, line});
    }
    // A single word alone is the one admin token of earlier versions.
    if (lines.size() == 1 && !lines[0].second.contains(blanks)) {
        tokens->push_back({QStringLiteral("admin"), Role::Admin, lines[0].second});
        return true;
    }
    for (const auto& entry : lines) {
        // Plain names: a lambda below takes them, which clang refuses for structured bindings.
        const int number = entry.first;
        const QString& line = entry.second;
        const QStringList words = line.split(blanks, Qt::SkipEmptyParts);
        const auto wrong = [&](const QString& why) {
            *error = QStringLiteral("linha %1 do arquivo de token: %2").arg(number).arg(why);
            return false;
        };
        if (words.size() != 3) return wrong(QStringLiteral("cada linha deve ter NOME PAPEL TOKEN"));
        if (!validName.match(words[0]).hasMatch())
            return wrong(QStringLiteral("o nome deve ter até 60 letras, números ou . _ @ -"));
        Role role;
        if (words[1] == QLatin1String("admin"))
            role = Role::Admin;
        else if (words[1] == QLatin1String("leitura"))
            role = Role::Reader;
        else
            return wrong(QStringLiteral("o papel deve ser admin ou leitura, não %1").arg(words[1]));
        for (const AccessToken& t : *tokens) {
            if (t.name == words[0])
                return wrong(QStringLiteral("o nome %1 já foi usado").arg(words[0]));
            if (t.secret == words[2])
                return wrong(QStringLiteral("o token repete o de %1").arg(t.name));
        }
        tokens->push_back({words[0], role, words[2]});
    }
    if (tokens->isEmpty()) {
        *error = QStringLiteral("o arquivo de token não tem nenhum token");
        return false;
    }
    return true;
}

} // namespace rhserver
