#include "ParamService.h"

#include "FieldRules.h"
#include "History.h"
#include "Schema.h"

#include <QDateTime>
#include <functional>
#include <utility>

namespace rhserver {

using protocol::DataPacket;
using protocol::Delta;
using protocol::DeltaChange;
using protocol::FieldSpec;
using protocol::FieldType;
namespace ErrorCode = protocol::ErrorCode;

namespace {

FieldSpec text(const char* name, int size) {
    return {QString::fromLatin1(name), FieldType::String, size};
}
FieldSpec number(const char* name) {
    return {QString::fromLatin1(name), FieldType::Float, 0};
}
FieldSpec date(const char* name) {
    return {QString::fromLatin1(name), FieldType::Date, 0};
}

const QVector<FieldSpec> geralFields = {
    text("CDPARAMRH", 1), number("VRPRAZEFEFUN"), number("VRPEENCEFET"),   number("VRPEENCTEMP"),
    number("VRPEDESCVT"), text("IDTPINDCB", 1),   text("CDINDICECB", 4),   date("DTBASECB"),
    number("VRCESTABAS"), text("NMINDICE", 30),   text("IDTPFERIASPG", 1), number("QTDIASFERIPG")};
const QVector<FieldSpec> filialFields = {
    text("CDFILIAL", 4),    text("NMFILIAL", 30),    text("DIFECHRH", 2),    date("DTULTFECHRH"),
    number("VRTOLEAPON"),   text("NMDIRPONTO", 100), text("CDCONMEDDEF", 2), text("NMCONVMEDI", 30),
    text("IDTPHORARIO", 1), text("IDTIPOAPON", 2),   text("IDUTRELOGIO", 1), text("IDSAIEVEN", 1),
    text("VRFATCOMP", 2),   text("IDSAID1", 1),      text("IDENTRAD2", 1),   text("IDSAID2", 1),
    text("IDENTRAD1", 1)};
const QVector<FieldSpec> inspecaoFields = {text("CDINSPECAO", 10), text("NMINSPECAO", 200),
                                           text("IDCARG", 1), text("IDDEPT", 1), text("IDPADR", 1)};
const QVector<FieldSpec> cargoFields = {text("IDCHECK", 1), text("CDCARGO", 4),
                                        text("NMCARGO", 30)};
const QVector<FieldSpec> deptoFields = {text("IDCHECK", 1), text("CDDEPTO", 3),
                                        text("NMDEPTO", 30)};
const QVector<FieldSpec> convFields = {text("CDCONVMEDI", 2), text("NMCONVMEDI", 30)};

[[noreturn]] void refuse(const QString& message) {
    throw ServiceError{ErrorCode::Refused, message};
}
[[noreturn]] void conflict(const QString& message) {
    throw ServiceError{ErrorCode::Conflict, message};
}

// A code as quoted back to the user: hostile or very long texts stay readable.
QString shown(const QString& code) {
    QString s = code.size() > 40 ? code.left(40) + QStringLiteral("…") : code;
    return u'"' + s + u'"';
}

std::string packetJson(Storage& s, QSqlQuery& q, const QVector<FieldSpec>& fields) {
    s.exec(q);
    DataPacket packet;
    packet.fields = fields;
    while (q.next()) {
        protocol::Row row;
        row.reserve(fields.size());
        for (int i = 0; i < fields.size(); ++i)
            row.push_back(Storage::read(fields[i], q.value(i)));
        packet.rows.push_back(std::move(row));
    }
    q.finish();
    return protocol::packetToJson(packet);
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

// A stored column of an editable record and, for codes of other tables, how to check them.
struct Reference {
    const char* sql; // SELECT 1 ... WHERE code = ?
    const char* message;
};

struct RecordTable {
    const char* table;
    const char* key;
    const QVector<FieldSpec>* fields;
    QStringList displayOnly;
    QHash<QString, Reference> references;
};

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

const RecordTable geralTable = {"PARAMRH",
                                "CDPARAMRH",
                                &geralFields,
                                {QStringLiteral("NMINDICE")},
                                {{QStringLiteral("CDINDICECB"), indiceRef}}};
const RecordTable filialTable = {"PARAMFILIAL",
                                 "CDFILIAL",
                                 &filialFields,
                                 {QStringLiteral("NMFILIAL"), QStringLiteral("NMCONVMEDI")},
                                 {{QStringLiteral("CDCONMEDDEF"), convRef}}};

class Methods {
public:
    Methods(Storage& s, const SessionInfo& session, std::string_view paramsJson)
        : s(s)
        , session(session)
        , paramsJson(paramsJson) {}

    bool exists(const Reference& ref, const QString& code) {
        QSqlQuery& q = s.query(ref.sql);
        q.bindValue(0, code);
        s.exec(q);
        const bool found = q.next();
        q.finish();
        return found;
    }

    void require(const Reference& ref, const QString& code) {
        if (!exists(ref, code)) refuse(QString::fromUtf8(ref.message).arg(shown(code)));
    }

    std::string getGeral(const QString& key) {
        QSqlQuery& q = s.query(
            "SELECT P.CDPARAMRH, P.VRPRAZEFEFUN, P.VRPEENCEFET, P.VRPEENCTEMP, P.VRPEDESCVT, "
            "P.IDTPINDCB, P.CDINDICECB, P.DTBASECB, P.VRCESTABAS, I.NMINDICE, P.IDTPFERIASPG, "
            "P.QTDIASFERIPG FROM PARAMRH P LEFT JOIN INDICE I ON I.CDINDICE = P.CDINDICECB "
            "WHERE P.CDPARAMRH = ?");
        q.bindValue(0, key);
        return packetJson(s, q, geralFields);
    }

    std::string getFilial(const QString& branch) {
        QSqlQuery& q = s.query(
            "SELECT P.CDFILIAL, F.NMFILIAL, P.DIFECHRH, P.DTULTFECHRH, P.VRTOLEAPON, P.NMDIRPONTO, "
            "P.CDCONMEDDEF, C.NMCONVMEDI, P.IDTPHORARIO, P.IDTIPOAPON, P.IDUTRELOGIO, "
            "P.IDSAIEVEN, P.VRFATCOMP, P.IDSAID1, P.IDENTRAD2, P.IDSAID2, P.IDENTRAD1 "
            "FROM PARAMFILIAL P JOIN FILIAL F ON F.CDFILIAL = P.CDFILIAL "
            "LEFT JOIN CONVMEDI C ON C.CDCONVMEDI = P.CDCONMEDDEF WHERE P.CDFILIAL = ?");
        q.bindValue(0, branch);
        return packetJson(s, q, filialFields);
    }

    std::string getConvMed(const QString& code, const QString& all) {
        if (all == QLatin1String("T")) {
            QSqlQuery& q =
                s.query("SELECT CDCONVMEDI, NMCONVMEDI FROM CONVMEDI ORDER BY CDCONVMEDI");
            return packetJson(s, q, convFields);
        }
        QSqlQuery& q = s.query("SELECT CDCONVMEDI, NMCONVMEDI FROM CONVMEDI WHERE CDCONVMEDI = ?");
        q.bindValue(0, code);
        return packetJson(s, q, convFields);
    }

    std::string getInspecao(const QString& levelText) {
        bool ok = false;
        const int level = levelText.trimmed().toInt(&ok);
        if (!ok)
            throw ServiceError{
                ErrorCode::InvalidParams,
                QStringLiteral("GetInspecao espera o número de um nível da máscara de "
                               "questionários, mas recebeu %1.")
                    .arg(shown(levelText))};
        QSqlQuery& pict = s.query("SELECT DSMASCARA FROM CODPICT WHERE CDTPPICT = ?");
        pict.bindValue(0, QuestionnairePicture);
        s.exec(pict);
        const QString mask = pict.next() ? pict.value(0).toString() : QString();
        pict.finish();
        const QVector<int> lengths = levelLengths(mask);
        if (lengths.isEmpty())
            refuse(QStringLiteral(
                       "A máscara de código dos questionários (tipo %1) não está cadastrada.")
                       .arg(QuestionnairePicture));
        // A level outside the mask matches no code: the list is simply empty.
        const int length = level >= 0 && level < lengths.size() ? lengths[level] : -1;
        QSqlQuery& q =
            s.query("SELECT I.CDINSPECAO, I.NMINSPECAO, "
                    "CASE WHEN EXISTS (SELECT 1 FROM INSPCARGO T WHERE T.CDFILIAL = ? AND "
                    "T.CDINSPECAO = I.CDINSPECAO) "
                    "THEN 'S' ELSE 'N' END, "
                    "CASE WHEN EXISTS (SELECT 1 FROM INSPDEPTO T WHERE T.CDFILIAL = ? AND "
                    "T.CDINSPECAO = I.CDINSPECAO) "
                    "THEN 'S' ELSE 'N' END, "
                    "CASE WHEN EXISTS (SELECT 1 FROM INSPPADRAO T WHERE T.CDFILIAL = ? AND "
                    "T.CDINSPECAO = I.CDINSPECAO) "
                    "THEN 'S' ELSE 'N' END "
                    "FROM INSPECAO I WHERE LENGTH(I.CDINSPECAO) = ? ORDER BY I.CDINSPECAO");
        q.bindValue(0, session.branch);
        q.bindValue(1, session.branch);
        q.bindValue(2, session.branch);
        q.bindValue(3, length);
        return packetJson(s, q, inspecaoFields);
    }

    std::string getCargo(const QString& inspecao) {
        QSqlQuery& q =
            s.query("SELECT CASE WHEN EXISTS (SELECT 1 FROM INSPCARGO T WHERE T.CDFILIAL = ? AND "
                    "T.CDINSPECAO = ? AND T.CDCARGO = C.CDCARGO) THEN 'S' ELSE 'N' END, C.CDCARGO, "
                    "C.NMCARGO FROM CARGO C ORDER BY C.CDCARGO");
        q.bindValue(0, session.branch);
        q.bindValue(1, inspecao);
        return packetJson(s, q, cargoFields);
    }

    std::string getDepto(const QString& inspecao) {
        QSqlQuery& q =
            s.query("SELECT CASE WHEN EXISTS (SELECT 1 FROM INSPDEPTO T WHERE T.CDFILIAL = ? AND "
                    "T.CDINSPECAO = ? AND T.CDDEPTO = D.CDDEPTO) THEN 'S' ELSE 'N' END, D.CDDEPTO, "
                    "D.NMDEPTO FROM DEPTO D ORDER BY D.CDDEPTO");
        q.bindValue(0, session.branch);
        q.bindValue(1, inspecao);
        return packetJson(s, q, deptoFields);
    }

    // Runs a write and its audit row in one transaction; nothing stays when either fails. The body
    // tells whether it changed anything: a write that changes nothing leaves no audit row.
    void write(std::string_view method, const std::function<bool()>& body) {
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

    // The audit row alone, of a call the role did not allow: the data is as it was.
    void recordRefusal(std::string_view method) {
        s.begin();
        try {
            audit(method, true);
            s.commit();
        } catch (...) {
            s.rollback();
            throw;
        }
    }

    void audit(std::string_view method, bool refused) {
        QSqlQuery& q =
            s.query("INSERT INTO RHAUDITORIA (DTAUDITORIA, CDFILIAL, IDSESSAO, NMMETODO, "
                    "DSARGUMENTOS, NMTOKEN, IDRECUSADO) VALUES (?, ?, ?, ?, ?, ?, ?)");
        q.bindValue(0, QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs));
        q.bindValue(1, session.branch);
        q.bindValue(2, session.sessionId);
        q.bindValue(3, QString::fromLatin1(method.data(), qsizetype(method.size())));
        q.bindValue(4, QString::fromUtf8(paramsJson.data(), qsizetype(paramsJson.size())));
        q.bindValue(5, session.tokenName.isEmpty() ? QVariant(QMetaType::fromType<QString>())
                                                   : QVariant(session.tokenName));
        q.bindValue(6, refused ? QStringLiteral("S") : QStringLiteral("N"));
        s.exec(q);
    }

    enum class TieKind { Cargo, Depto, Padrao };
    struct TieSpec {
        TieKind kind;
        bool insert;
        int branchArg, inspecaoArg, itemArg; // -1: no item, all ties of the questionnaire
    };

    void tie(std::string_view method, const TieSpec& rule,
             const QVector<protocol::Argument>& args) {
        const auto arg = [&](int i) { return std::get<QString>(args[i]); };
        const QString branch = arg(rule.branchArg), inspecao = arg(rule.inspecaoArg);
        const QString item = rule.itemArg >= 0 ? arg(rule.itemArg) : QString();
        write(method, [&] {
            require(filialRef, branch);
            require(s.engine() == Engine::PostgreSQL ? inspecaoLockedRef : inspecaoRef, inspecao);
            if (rule.itemArg >= 0) require(rule.kind == TieKind::Cargo ? cargoRef : deptoRef, item);
            const char* sql = nullptr;
            switch (rule.kind) {
            case TieKind::Cargo:
                sql =
                    rule.insert
                        ? "INSERT INTO INSPCARGO (CDFILIAL, CDINSPECAO, CDCARGO) VALUES (?, ?, ?) "
                          "ON CONFLICT DO NOTHING"
                    : rule.itemArg >= 0
                        ? "DELETE FROM INSPCARGO WHERE CDFILIAL = ? AND CDINSPECAO = ? AND CDCARGO "
                          "= ?"
                        : "DELETE FROM INSPCARGO WHERE CDFILIAL = ? AND CDINSPECAO = ?";
                break;
            case TieKind::Depto:
                sql =
                    rule.insert
                        ? "INSERT INTO INSPDEPTO (CDFILIAL, CDINSPECAO, CDDEPTO) VALUES (?, ?, ?) "
                          "ON CONFLICT DO NOTHING"
                    : rule.itemArg >= 0
                        ? "DELETE FROM INSPDEPTO WHERE CDFILIAL = ? AND CDINSPECAO = ? AND CDDEPTO "
                          "= ?"
                        : "DELETE FROM INSPDEPTO WHERE CDFILIAL = ? AND CDINSPECAO = ?";
                break;
            case TieKind::Padrao:
                sql = rule.insert ? "INSERT INTO INSPPADRAO (CDFILIAL, CDINSPECAO) VALUES (?, ?) "
                                    "ON CONFLICT DO NOTHING"
                                  : "DELETE FROM INSPPADRAO WHERE CDFILIAL = ? AND CDINSPECAO = ?";
                break;
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

    void applyDelta(std::string_view method, const RecordTable& table, const Delta& delta) {
        const QVector<FieldSpec>& columns = *table.fields;
        // Where each delta field goes: the column index, or -1 for a display-only field.
        QVector<int> target(delta.fields.size(), -1);
        int keyField = -1;
        for (int i = 0; i < delta.fields.size(); ++i) {
            const FieldSpec& f = delta.fields[i];
            int column = -1;
            for (int c = 0; c < columns.size(); ++c)
                if (columns[c].name.compare(f.name, Qt::CaseInsensitive) == 0) column = c;
            if (column < 0)
                refuse(QStringLiteral(
                           "As alterações trazem o campo %1, que não existe neste cadastro.")
                           .arg(shown(f.name)));
            if (columns[column].type != f.type)
                refuse(QStringLiteral("As alterações trazem o campo %1 como %2, mas ele guarda %3.")
                           .arg(columns[column].name, describe(f.type),
                                describe(columns[column].type)));
            if (table.displayOnly.contains(columns[column].name)) continue;
            target[i] = column;
            if (columns[column].name == QLatin1String(table.key)) keyField = i;
        }
        if (keyField < 0)
            refuse(QStringLiteral("As alterações não trazem o campo %1, que identifica o registro.")
                       .arg(table.key));
        for (const DeltaChange& change : delta.changes)
            for (int i = 0; i < delta.fields.size(); ++i) {
                if (target[i] < 0) continue;
                const QString problem =
                    protocol::checkValue(columns[target[i]], change.newValues.value(i));
                if (!problem.isEmpty()) refuse(QStringLiteral("Valor recusado: %1.").arg(problem));
                // Only values being written: a record stored before these rules stays editable.
                if (change.op == DeltaChange::Op::Insert ||
                    !sameValue(columns[target[i]], change.oldValues[i], change.newValues[i])) {
                    const QString problem = ruleProblem(columns[target[i]], change.newValues[i]);
                    if (!problem.isEmpty()) refuse(problem);
                }
            }
        // The audit says what was written: not the names of other tables shown beside it.
        const std::string written = "[" + protocol::deltaToJson(storedPart(delta, target)) + "]";
        struct Restore {
            std::string_view& args;
            std::string_view asReceived;
            ~Restore() { args = asReceived; }
        } restore{paramsJson, std::exchange(paramsJson, written)};
        write(method, [&] {
            bool changed = false;
            for (const DeltaChange& change : delta.changes)
                changed = applyChange(table, delta, target, keyField, change) || changed;
            return changed;
        });
    }

    // The fields of the delta that have a column here (target not -1), with their values.
    static Delta storedPart(const Delta& delta, const QVector<int>& target) {
        Delta part;
        QVector<int> kept;
        for (int i = 0; i < delta.fields.size(); ++i)
            if (target[i] >= 0) {
                part.fields << delta.fields[i];
                kept << i;
            }
        for (const DeltaChange& change : delta.changes) {
            DeltaChange c;
            c.op = change.op;
            for (int i : kept) {
                if (!change.oldValues.isEmpty()) c.oldValues << change.oldValues[i];
                c.newValues << change.newValues[i];
            }
            part.changes << c;
        }
        return part;
    }

    static QString insertedMeanwhile() {
        return QStringLiteral("Outro usuário já incluiu este registro depois que você o leu. "
                              "Verifique os dados atuais e faça as suas alterações de novo.");
    }

    static QString describe(FieldType type) {
        switch (type) {
        case FieldType::String:
            return QStringLiteral("texto");
        case FieldType::Float:
            return QStringLiteral("número");
        case FieldType::Date:
            return QStringLiteral("data");
        }
        return {};
    }

    void checkKey(const RecordTable& table, const QVariant& key) {
        if (key.isNull() || key.toString().trimmed().isEmpty())
            refuse(QStringLiteral("O registro alterado não tem o código (%1) preenchido.")
                       .arg(table.key));
        if (&table == &geralTable && key.toString() != QLatin1String("1"))
            refuse(QStringLiteral("Os parâmetros gerais ficam sempre no registro de código \"1\"; "
                                  "o código %1 não é "
                                  "aceito.")
                       .arg(shown(key.toString())));
        if (&table == &filialTable) require(filialRef, key.toString());
    }

    void checkReferences(const RecordTable& table, const FieldSpec& column, const QVariant& value) {
        const auto ref = table.references.find(column.name);
        if (ref != table.references.end() && !value.isNull()) require(*ref, value.toString());
    }

    // Applies one change; false when it changed nothing stored.
    bool applyChange(const RecordTable& table, const Delta& delta, const QVector<int>& target,
                     int keyField, const DeltaChange& change) {
        const QVector<FieldSpec>& columns = *table.fields;
        const QString keyColumn = QString::fromLatin1(table.key);
        QStringList stored;
        QVector<int> storedColumns;
        for (int c = 0; c < columns.size(); ++c)
            if (!table.displayOnly.contains(columns[c].name)) {
                stored << columns[c].name;
                storedColumns << c;
            }
        const QVariant key = change.op == DeltaChange::Op::Insert ? change.newValues[keyField]
                                                                  : change.oldValues[keyField];
        checkKey(table, key);
        QSqlQuery current(s.db());
        current.prepare(QStringLiteral("SELECT %1 FROM %2 WHERE %3 = ?%4")
                            .arg(stored.join(QStringLiteral(", ")), QLatin1String(table.table),
                                 keyColumn, QLatin1String(s.lockSuffix())));
        current.bindValue(0, key.toString());
        s.exec(current);
        const bool found = current.next();
        if (change.op == DeltaChange::Op::Insert) {
            if (found) conflict(insertedMeanwhile());
            QStringList names, marks;
            QVector<int> fields;
            for (int i = 0; i < delta.fields.size(); ++i) {
                if (target[i] < 0) continue;
                checkReferences(table, columns[target[i]], change.newValues[i]);
                names << columns[target[i]].name;
                marks << QStringLiteral("?");
                fields << i;
            }
            // Another server may insert the same record between the read above and this insert;
            // the loser then inserts nothing and gets the same conflict as after the read.
            QSqlQuery insert(s.db());
            insert.prepare(
                QStringLiteral("INSERT INTO %1 (%2) VALUES (%3) ON CONFLICT (%4) DO NOTHING")
                    .arg(QLatin1String(table.table), names.join(QStringLiteral(", ")),
                         marks.join(QStringLiteral(", ")), keyColumn));
            for (int n = 0; n < fields.size(); ++n)
                s.bind(insert, n, columns[target[fields[n]]], change.newValues[fields[n]]);
            s.exec(insert);
            if (insert.numRowsAffected() == 0) conflict(insertedMeanwhile());
            return true;
        }
        if (!found)
            conflict(QStringLiteral(
                "Este registro não existe mais no servidor: outro usuário o alterou depois que "
                "você o leu. Verifique os dados atuais e faça as suas alterações de novo."));
        if (!sameValue(columns[target[keyField]], change.newValues[keyField],
                       change.oldValues[keyField]))
            refuse(QStringLiteral("O código de um registro já gravado (%1) não pode ser alterado.")
                       .arg(keyColumn));
        QStringList sets;
        QVector<int> changed;
        for (int i = 0; i < delta.fields.size(); ++i) {
            if (target[i] < 0) continue;
            const FieldSpec& column = columns[target[i]];
            if (sameValue(column, change.oldValues[i], change.newValues[i])) continue;
            const QVariant now =
                Storage::read(column, current.value(int(storedColumns.indexOf(target[i]))));
            if (!sameValue(column, now, change.oldValues[i]))
                conflict(QStringLiteral(
                    "Outro usuário alterou este registro depois que você o leu, e as suas "
                    "alterações não foram gravadas. Verifique os dados atuais e faça as suas "
                    "alterações de novo."));
            checkReferences(table, column, change.newValues[i]);
            sets << column.name + QStringLiteral(" = ?");
            changed << i;
        }
        current.finish();
        if (changed.isEmpty()) return false;
        QSqlQuery update(s.db());
        update.prepare(
            QStringLiteral("UPDATE %1 SET %2 WHERE %3 = ?")
                .arg(QLatin1String(table.table), sets.join(QStringLiteral(", ")), keyColumn));
        int n = 0;
        for (int i : changed)
            s.bind(update, n++, columns[target[i]], change.newValues[i]);
        update.bindValue(n, key.toString());
        s.exec(update);
        return true;
    }

    Storage& s;
    const SessionInfo& session;
    std::string_view paramsJson;
};

using Args = QVector<protocol::Argument>;

// A method's arity, kind of arguments, write flag and handler: everything the server knows of it.
struct MethodEntry : MethodSpec {
    std::string (*handler)(Methods&, std::string_view name, const Args&);
};

QString text(const Args& args, int i) {
    return std::get<QString>(args[i]);
}

template <const RecordTable& table>
std::string applyDelta(Methods& m, std::string_view name, const Args& args) {
    m.applyDelta(name, table, std::get<Delta>(args[0]));
    return {};
}

// kind, insert or delete, and where the branch, questionnaire and item are in the arguments.
template <Methods::TieKind kind, bool insert, int branch, int inspecao, int item>
std::string tie(Methods& m, std::string_view name, const Args& args) {
    m.tie(name, {kind, insert, branch, inspecao, item}, args);
    return {};
}

using T = Methods::TieKind;
const MethodEntry methods[] = {
    {{"GetGeral", 1, false, false},
     [](Methods& m, std::string_view, const Args& a) { return m.getGeral(text(a, 0)); }},
    {{"GetFilial", 1, false, false},
     [](Methods& m, std::string_view, const Args& a) { return m.getFilial(text(a, 0)); }},
    {{"GetConvMed", 2, false, false},
     [](Methods& m, std::string_view, const Args& a) {
         return m.getConvMed(text(a, 0), text(a, 1));
     }},
    {{"GetInspecao", 1, false, false},
     [](Methods& m, std::string_view, const Args& a) { return m.getInspecao(text(a, 0)); }},
    {{"GetCargo", 1, false, false},
     [](Methods& m, std::string_view, const Args& a) { return m.getCargo(text(a, 0)); }},
    {{"GetDepto", 1, false, false},
     [](Methods& m, std::string_view, const Args& a) { return m.getDepto(text(a, 0)); }},
    {{"GetHistorico", 4, false, false},
     [](Methods& m, std::string_view, const Args& a) {
         return historyJson(m.s, {text(a, 0), text(a, 1), text(a, 2), text(a, 3)});
     }},
    {{"SetGeral", 1, true, true}, applyDelta<geralTable>},
    {{"SetFilial", 1, true, true}, applyDelta<filialTable>},
    {{"SetInsCarg", 3, false, true}, tie<T::Cargo, true, 0, 1, 2>},
    {{"SetDelCarg", 3, false, true}, tie<T::Cargo, false, 0, 1, 2>},
    {{"SetInsDep", 3, false, true}, tie<T::Depto, true, 1, 0, 2>},
    {{"SetDelDep", 3, false, true}, tie<T::Depto, false, 1, 0, 2>},
    {{"SetDelTdCarg", 2, false, true}, tie<T::Cargo, false, 0, 1, -1>},
    {{"SetDelTdDep", 2, false, true}, tie<T::Depto, false, 0, 1, -1>},
    {{"SetInsPad", 2, false, true}, tie<T::Padrao, true, 1, 0, -1>},
    {{"SetDelPad", 2, false, true}, tie<T::Padrao, false, 1, 0, -1>},
};

} // namespace

const MethodSpec* findMethod(std::string_view name) {
    for (const MethodEntry& m : methods)
        if (m.name == name) return &m;
    return nullptr;
}

void ParamService::auditRefusal(const SessionInfo& session, const MethodSpec& method, size_t bytes,
                                qint64 unrecorded) {
    protocol::JsonWriter w;
    w.beginObject();
    w.key("bytes");
    w.integer(std::int64_t(bytes));
    w.key("naoRegistradas");
    w.integer(unrecorded);
    w.endObject();
    const std::string arguments = "[" + w.take() + "]";
    m_storage.heal();
    Methods(m_storage, session, arguments).recordRefusal(method.name);
}

void ParamService::ping() {
    m_storage.heal();
    try {
        try {
            m_storage.checkWritable();
        } catch (const ServiceError&) {
            // A connection lost since the last call (a database restart, say) is made again and
            // asked once more: the health check tells what the database can do now.
            if (!m_storage.heal()) throw;
            m_storage.checkWritable();
        }
    } catch (const ServiceError&) {
        throw ServiceError{ErrorCode::StorageFailure,
                           QStringLiteral("O banco de dados não aceita gravações agora; o motivo "
                                          "está no registro do servidor.")};
    }
}

bool ParamService::branchExists(const QString& code) {
    m_storage.heal();
    const SessionInfo none;
    return Methods(m_storage, none, {}).exists(filialRef, code);
}

std::string ParamService::call(const SessionInfo& session, const MethodSpec& method,
                               const QVector<protocol::Argument>& args,
                               std::string_view paramsJson) {
    m_storage.heal();
    Methods m(m_storage, session, paramsJson);
    const auto& entry = static_cast<const MethodEntry&>(method);
    if (method.writes) {
        // A write answers true once done; its caller drops the result.
        entry.handler(m, method.name, args);
        return "true";
    }
    const ReplyCache::Scope scope = ReplyCache::scopeOf(method.name);
    if (scope == ReplyCache::Scope::None || !m_cache.validate())
        return entry.handler(m, method.name, args);
    std::string key = ReplyCache::key(method.name, paramsJson, scope, session.branch);
    if (const std::string* kept = m_cache.find(key)) return *kept;
    std::string result = entry.handler(m, method.name, args);
    m_cache.store(std::move(key), result);
    return result;
}

} // namespace rhserver
