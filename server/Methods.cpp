#include "Methods.h"

#include <QDateTime>

namespace rhserver {

using protocol::DataPacket;
using protocol::FieldSpec;
using protocol::FieldType;
namespace ErrorCode = protocol::ErrorCode;

[[noreturn]] void refuse(const QString& message) {
    throw ServiceError{ErrorCode::Refused, message};
}
[[noreturn]] void conflict(const QString& message) {
    throw ServiceError{ErrorCode::Conflict, message};
}

QString shown(const QString& code) {
    QString s = code.size() > 40 ? code.left(40) + QStringLiteral("…") : code;
    return u'"' + s + u'"';
}

bool sameValue(const FieldSpec& field, const QVariant& a, const QVariant& b) {
    if (a.isNull() || b.isNull()) return a.isNull() && b.isNull();
    switch (field.type) {
    case FieldType::String:
        return a.toString() == b.toString();
    case FieldType::Float:
        return a.toDouble() == b.toDouble();
    case FieldType::Date:
        return a.toDate() == b.toDate();
    }
    return false;
}

const Reference indiceRef = {"SELECT 1 FROM INDICE WHERE CDINDICE = ?",
                             "O índice financeiro %1 não está cadastrado."};
const Reference convRef = {"SELECT 1 FROM CONVMEDI WHERE CDCONVMEDI = ?",
                           "O convênio médico %1 não está cadastrado."};
const Reference filialRef = {"SELECT 1 FROM FILIAL WHERE CDFILIAL = ?",
                             "A filial %1 não está cadastrada."};
const Reference inspecaoRef = {"SELECT 1 FROM INSPECAO WHERE CDINSPECAO = ?",
                               "O questionário %1 não está cadastrado."};
// The same, holding the questionnaire's row until commit (PostgreSQL): its ties are written one
// transaction at a time. At READ COMMITTED a delete-all does not see an insert not yet
// committed, so the insert would stay while the audit lists it before the delete-all. NO KEY
// leaves the key share that the ties' foreign keys take free.
const Reference inspecaoLockedRef = {
    "SELECT 1 FROM INSPECAO WHERE CDINSPECAO = ? FOR NO KEY UPDATE",
    "O questionário %1 não está cadastrado."};
const Reference cargoRef = {"SELECT 1 FROM CARGO WHERE CDCARGO = ?",
                            "O cargo %1 não está cadastrado."};
const Reference deptoRef = {"SELECT 1 FROM DEPTO WHERE CDDEPTO = ?",
                            "O departamento %1 não está cadastrado."};

const RecordTable& recordTable(contract::Record record) {
    static const RecordTable geral{contract::geral(), {{QStringLiteral("CDINDICECB"), indiceRef}}};
    static const RecordTable filial{contract::filial(), {{QStringLiteral("CDCONMEDDEF"), convRef}}};
    return record == contract::Record::Geral ? geral : filial;
}

bool Methods::exists(const Reference& ref, const QString& code) {
    QSqlQuery& q = s.query(ref.sql);
    q.bindValue(0, code);
    s.exec(q);
    const bool found = q.next();
    q.finish();
    return found;
}

void Methods::require(const Reference& ref, const QString& code) {
    if (!exists(ref, code)) refuse(QString::fromUtf8(ref.message).arg(shown(code)));
}

void Methods::write(std::string_view method, const std::function<bool()>& body) {
    s.begin();
    bool committing = false;
    try {
        if (!body()) {
            s.rollback();
            return;
        }
        audit(method, false);
        s.announceChange();
        committing = true;
        s.commit();
        ReplyCache::writeCommitted();
    } catch (...) {
        s.rollback();
        // A failed commit may still have reached the disk: kept replies are not trusted.
        if (committing) ReplyCache::writeCommitted();
        throw;
    }
}

void Methods::recordRefusal(std::string_view method) {
    s.begin();
    try {
        audit(method, true);
        s.commit();
    } catch (...) {
        s.rollback();
        throw;
    }
}

void Methods::audit(std::string_view method, bool refused) {
    QSqlQuery& q = s.query("INSERT INTO RHAUDITORIA (DTAUDITORIA, CDFILIAL, IDSESSAO, NMMETODO, "
                           "DSARGUMENTOS, NMTOKEN, IDRECUSADO, NMENDERECO, IDGRAVACAO) "
                           "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)");
    q.bindValue(0, QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs));
    q.bindValue(1, session.branch);
    q.bindValue(2, session.sessionId);
    q.bindValue(3, QString::fromLatin1(method.data(), qsizetype(method.size())));
    q.bindValue(4, QString::fromUtf8(paramsJson.data(), qsizetype(paramsJson.size())));
    q.bindValue(5, session.tokenName.isEmpty() ? QVariant(QMetaType::fromType<QString>())
                                               : QVariant(session.tokenName));
    q.bindValue(6, refused ? QStringLiteral("S") : QStringLiteral("N"));
    q.bindValue(7, session.address.isEmpty() ? QVariant(QMetaType::fromType<QString>())
                                             : QVariant(session.address.left(64)));
    q.bindValue(8, s.writeId());
    s.exec(q);
    s.writeIdStored();
}

void Methods::tie(std::string_view method, const contract::Tie& rule,
                  const QVector<protocol::Argument>& args) {
    const auto arg = [&](int i) { return std::get<QString>(args[i]); };
    const QString branch = arg(rule.branchArg), inspecao = arg(rule.inspecaoArg);
    const QString item = rule.itemArg >= 0 ? arg(rule.itemArg) : QString();
    write(method, [&] {
        require(filialRef, branch);
        require(s.engine() == Engine::PostgreSQL ? inspecaoLockedRef : inspecaoRef, inspecao);
        if (rule.itemArg >= 0)
            require(rule.table == contract::Tie::Table::Cargo ? cargoRef : deptoRef, item);
        const char* sql = nullptr;
        switch (rule.table) {
        case contract::Tie::Table::Cargo:
            sql = rule.insert
                      ? "INSERT INTO INSPCARGO (CDFILIAL, CDINSPECAO, CDCARGO) VALUES (?, ?, ?) "
                        "ON CONFLICT DO NOTHING"
                  : rule.itemArg >= 0
                      ? "DELETE FROM INSPCARGO WHERE CDFILIAL = ? AND CDINSPECAO = ? AND CDCARGO "
                        "= ?"
                      : "DELETE FROM INSPCARGO WHERE CDFILIAL = ? AND CDINSPECAO = ?";
            break;
        case contract::Tie::Table::Depto:
            sql = rule.insert
                      ? "INSERT INTO INSPDEPTO (CDFILIAL, CDINSPECAO, CDDEPTO) VALUES (?, ?, ?) "
                        "ON CONFLICT DO NOTHING"
                  : rule.itemArg >= 0
                      ? "DELETE FROM INSPDEPTO WHERE CDFILIAL = ? AND CDINSPECAO = ? AND CDDEPTO "
                        "= ?"
                      : "DELETE FROM INSPDEPTO WHERE CDFILIAL = ? AND CDINSPECAO = ?";
            break;
        case contract::Tie::Table::Padrao:
            sql = rule.insert ? "INSERT INTO INSPPADRAO (CDFILIAL, CDINSPECAO) VALUES (?, ?) "
                                "ON CONFLICT DO NOTHING"
                              : "DELETE FROM INSPPADRAO WHERE CDFILIAL = ? AND CDINSPECAO = ?";
            break;
        case contract::Tie::Table::None:
            return false; // not a tie method: nothing to write
        }
        QSqlQuery& q = s.query(sql);
        q.bindValue(0, branch);
        q.bindValue(1, inspecao);
        if (rule.itemArg >= 0) q.bindValue(2, item);
        s.exec(q);
        const bool changed = q.numRowsAffected() > 0;
        q.finish();
        return changed;
    });
}

} // namespace rhserver
