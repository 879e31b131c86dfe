#include "CallLine.h"

#include "contract/Notices.h"

#include <QCommandLineParser>

bool parseCallLine(const QStringList& args, CallLine* out, QString* error) {
    QCommandLineParser parser;
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    parser.addOption({QStringLiteral("help"), QString()});
    parser.addOption({QStringLiteral("version"), QString()});
    parser.addOption({QStringLiteral("watch"), QString()});
    for (const char* name : {"server", "branch", "token-file", "tls-ca"})
        parser.addOption({QString::fromLatin1(name), QString(), QStringLiteral("VALOR")});
    // Qt's own messages are in English: the user gets ours.
    if (!parser.parse(args)) {
        const QStringList unknown = parser.unknownOptionNames();
        *error =
            unknown.isEmpty()
                ? QStringLiteral("a opção %1 precisa de um valor").arg(args.value(args.size() - 1))
                : QStringLiteral("opção desconhecida: --%1; veja rhcall --help")
                      .arg(unknown.first());
        return false;
    }
    out->help = parser.isSet(QStringLiteral("help"));
    out->version = parser.isSet(QStringLiteral("version"));
    if (out->help || out->version) return true;
    if (parser.isSet(QStringLiteral("branch")))
        out->branch = parser.value(QStringLiteral("branch"));
    out->tokenFile = parser.value(QStringLiteral("token-file"));
    out->tlsCaFile = parser.value(QStringLiteral("tls-ca"));
    const QStringList positional = parser.positionalArguments();
    out->watch = parser.isSet(QStringLiteral("watch"));
    if (out->watch) {
        if (positional.size() > 1) {
            *error = QStringLiteral("--watch espera no máximo um argumento: os registros separados "
                                    "por vírgula");
            return false;
        }
        out->method = QString(contract::SubscribeMethod);
        out->arguments = {positional.value(
            0, QStringLiteral("geral,filial:%1,questionario:%1").arg(out->branch))};
    } else if (positional.isEmpty()) {
        *error = QStringLiteral("informe o método a chamar; veja rhcall --help");
        return false;
    } else {
        out->method = positional.first();
        out->arguments = positional.mid(1);
    }
    if (parser.isSet(QStringLiteral("server"))) {
        const QString server = parser.value(QStringLiteral("server"));
        const qsizetype colon = server.lastIndexOf(u':');
        bool portOk = false;
        const uint port = colon > 0 ? server.mid(colon + 1).toUInt(&portOk) : 0;
        if (!portOk || port == 0 || port > 65535) {
            *error = QStringLiteral("--server espera HOST:PORTA, por exemplo 127.0.0.1:7400");
            return false;
        }
        out->host = server.left(colon);
        out->port = quint16(port);
    }
    return true;
}
