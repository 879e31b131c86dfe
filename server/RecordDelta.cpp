#include "FieldRules.h"
#include "Methods.h"

#include <utility>

namespace rhserver {

using protocol::Delta;
using protocol::DeltaChange;
using protocol::FieldSpec;
using protocol::FieldType;

void Methods::applyDelta(std::string_view method, const RecordTable& table, const Delta& delta) {
    const QVector<FieldSpec>& columns = table.layout.fields;
    // Where each delta field goes: the column index, or -1 for a display-only field.
    QVector<int> target(delta.fields.size(), -1);
    int keyField = -1;
    for (int i = 0; i < delta.fields.size(); ++i) {
        const FieldSpec& f = delta.fields[i];
        int column = -1;
        for (int c = 0; c < columns.size(); ++c)
            if (columns[c].name.compare(f.name, Qt::CaseInsensitive) == 0) column = c;
        if (column < 0)
            refuse(QStringLiteral("As alterações trazem o campo %1, que não existe neste cadastro.")
                       .arg(shown(f.name)));
        if (columns[column].type != f.type)
            refuse(
                QStringLiteral("As alterações trazem o campo %1 como %2, mas ele guarda %3.")
                    .arg(columns[column].name, describe(f.type), describe(columns[column].type)));
        if (table.layout.displayOnly.contains(columns[column].name)) continue;
        target[i] = column;
        if (columns[column].name == QLatin1String(table.layout.key)) keyField = i;
    }
    if (keyField < 0)
        refuse(QStringLiteral("As alterações não trazem o campo %1, que identifica o registro.")
                   .arg(QLatin1String(table.layout.key)));
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
    std::string written = "[";
    written.append(protocol::deltaToJson(storedPart(delta, target))).append(1, ']');
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

Delta Methods::storedPart(const Delta& delta, const QVector<int>& target) {
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

QString Methods::insertedMeanwhile() {
    return QStringLiteral("Outro usuário já incluiu este registro depois que você o leu. "
                          "Verifique os dados atuais e faça as suas alterações de novo.");
}

QString Methods::describe(FieldType type) {
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

void Methods::checkKey(const RecordTable& table, const QVariant& key) {
    if (key.isNull() || key.toString().trimmed().isEmpty())
        refuse(QStringLiteral("O registro alterado não tem o código (%1) preenchido.")
                   .arg(QLatin1String(table.layout.key)));
    if (&table.layout == &contract::geral() && key.toString() != QLatin1String("1"))
        refuse(QStringLiteral("Os parâmetros gerais ficam sempre no registro de código \"1\"; "
                              "o código %1 não é "
                              "aceito.")
                   .arg(shown(key.toString())));
    if (&table.layout == &contract::filial()) require(filialRef, key.toString());
}

void Methods::checkReferences(const RecordTable& table, const FieldSpec& column,
                              const QVariant& value) {
    const auto ref = table.references.find(column.name);
    if (ref != table.references.end() && !value.isNull()) require(*ref, value.toString());
}

bool Methods::applyChange(const RecordTable& table, const Delta& delta, const QVector<int>& target,
                          int keyField, const DeltaChange& change) {
    const QVector<FieldSpec>& columns = table.layout.fields;
    const QString keyColumn = QString::fromLatin1(table.layout.key);
    QStringList stored;
    QVector<int> storedColumns;
    for (int c = 0; c < columns.size(); ++c)
        if (!table.layout.displayOnly.contains(columns[c].name)) {
            stored << columns[c].name;
            storedColumns << c;
        }
    const QVariant key = change.op == DeltaChange::Op::Insert ? change.newValues[keyField]
                                                              : change.oldValues[keyField];
    checkKey(table, key);
    QSqlQuery current(s.db());
    current.prepare(QStringLiteral("SELECT %1 FROM %2 WHERE %3 = ?%4")
                        .arg(stored.join(QStringLiteral(", ")), QLatin1String(table.layout.table),
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
        insert.prepare(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3) ON CONFLICT (%4) DO NOTHING")
                           .arg(QLatin1String(table.layout.table), names.join(QStringLiteral(", ")),
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
            .arg(QLatin1String(table.layout.table), sets.join(QStringLiteral(", ")), keyColumn));
    int n = 0;
    for (int i : changed)
        s.bind(update, n++, columns[target[i]], change.newValues[i]);
    update.bindValue(n, key.toString());
    s.exec(update);
    return true;
}
} // namespace rhserver
