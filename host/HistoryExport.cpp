#include "HistoryExport.h"

namespace {

QString csvField(QString text) {
    if (!text.contains(u';') && !text.contains(u'"') && !text.contains(u'\n') &&
        !text.contains(u'\r'))
        return text;
    text.replace(u'"', QStringLiteral("\"\""));
    return u'"' + text + u'"';
}

void appendLine(QString& out, const QStringList& fields) {
    QStringList quoted;
    for (const QString& f : fields)
        quoted << csvField(f);
    out += quoted.join(u';') + QStringLiteral("\r\n");
}

} // namespace

QByteArray historyCsv(const QVector<HistoryEntry>& rows) {
    QString out;
    appendLine(out, {QStringLiteral("Quando"), QStringLiteral("Quem"), QStringLiteral("Operação"),
                     QStringLiteral("Registro"), QStringLiteral("Alterações")});
    for (const HistoryEntry& e : rows)
        appendLine(out, {e.when.toString(QStringLiteral("dd/MM/yyyy HH:mm:ss")), e.who,
                         e.refused ? e.action + QStringLiteral(" (recusado)") : e.action, e.record,
                         e.changes.join(u'\n')});
    return QByteArray("\xEF\xBB\xBF") + out.toUtf8();
}
