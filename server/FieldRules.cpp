#include "FieldRules.h"

namespace rhserver {

namespace {

struct FieldRule {
    const char* field;
    const char* codes; // the letters allowed; null: a number that may not be negative
    const char* message;
};

const FieldRule fieldRules[] = {
    {"IDTPINDCB", "PV",
     "O tipo de índice da cesta básica deve ser \"P\" (percentual) ou \"V\" (valor); %1 não é "
     "aceito."},
    {"IDTPFERIASPG", "UC",
     "O tipo de dias de férias deve ser \"U\" (dias úteis) ou \"C\" (dias corridos); %1 não é "
     "aceito."},
    {"VRPRAZEFEFUN", nullptr,
     "Prazo máximo para efetivação do funcionário (dias)  deve ser maior ou igual a zero."},
    {"QTDIASFERIPG", nullptr, "A quantidade de dias de férias deve ser maior ou igual a zero."},
};

} // namespace

QString ruleProblem(const protocol::FieldSpec& column, const QVariant& value) {
    if (value.isNull()) return {};
    for (const FieldRule& rule : fieldRules) {
        if (column.name != QLatin1String(rule.field)) continue;
        if (rule.codes) {
            const QString code = value.toString();
            if (code.size() != 1 || !QByteArray(rule.codes).contains(code.toLatin1()))
                return QString::fromUtf8(rule.message).arg(u'"' + code.left(40) + u'"');
        } else if (value.toDouble() < 0) {
            return QString::fromUtf8(rule.message);
        }
    }
    return {};
}

} // namespace rhserver
