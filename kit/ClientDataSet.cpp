#include "ClientDataSet.h"

#include "Exceptions.h"

#include <unordered_map>

using protocol::DataPacket;
using protocol::FieldSpec;
using protocol::Row;

TClientDataSet::TClientDataSet(QString name)
    : m_name(std::move(name)) {}

TClientDataSet::~TClientDataSet() {
    for (DataSetObserver* o : QList<DataSetObserver*>(m_observers))
        o->dataSetDestroyed();
}

TField& TClientDataSet::AddField(const FieldSpec& definition, const QString& displayLabel) {
    if (Active())
        throw EDatabaseError(
            QStringLiteral("Campos só podem ser definidos com o conjunto fechado"));
    m_fields.push_back(std::make_unique<TField>(this, FieldCount(), definition));
    m_fields.back()->DisplayLabel = displayLabel;
    return *m_fields.back();
}

TField* TClientDataSet::FindField(const QString& name) const {
    for (const auto& f : m_fields)
        if (f->FieldName().compare(name, Qt::CaseInsensitive) == 0) return f.get();
    return nullptr;
}

TField& TClientDataSet::FieldByName(const QString& name) const {
    if (TField* f = FindField(name)) return *f;
    throw EDatabaseError(QStringLiteral("%1: campo '%2' não encontrado").arg(m_name, name));
}

bool TClientDataSet::IsEmpty() const {
    return m_rows.empty() && m_state != DataSetState::Insert;
}

void TClientDataSet::checkActive() const {
    if (!Active())
        throw EDatabaseError(
            QStringLiteral("%1: operação não permitida em um conjunto de dados fechado")
                .arg(m_name));
}

void TClientDataSet::setState(DataSetState state) {
    m_state = state;
    for (DataSetObserver* o : QList<DataSetObserver*>(m_observers))
        o->dataSetStateChanged();
}

void TClientDataSet::notifyRecordChanged() {
    for (DataSetObserver* o : QList<DataSetObserver*>(m_observers))
        o->dataSetRecordChanged();
}

void TClientDataSet::fire(const Event& event) {
    if (event) event(*this);
}

QVector<int> TClientDataSet::columnsFor(const QVector<FieldSpec>& packetFields) const {
    QVector<int> map;
    if (m_fields.empty()) {
        for (int i = 0; i < packetFields.size(); ++i)
            map.push_back(i);
        return map;
    }
    for (const auto& f : m_fields) {
        const int col = protocol::fieldIndex(packetFields, f->FieldName());
        if (col < 0)
            throw EDatabaseError(
                QStringLiteral("%1: o pacote não traz o campo %2").arg(m_name, f->FieldName()));
        if (packetFields[col].type != f->DataType())
            throw EDatabaseError(QStringLiteral("%1: o campo %2 veio como %3, mas é %4")
                                     .arg(m_name, f->FieldName(),
                                          protocol::typeName(packetFields[col].type),
                                          protocol::typeName(f->DataType())));
        map.push_back(col);
    }
    return map;
}

void TClientDataSet::SetData(const DataPacket& packet) {
    // Map every defined field to its packet column, and check every value before touching
    // the content, so that a packet that does not fit leaves the set as it was.
    const bool adopt = m_fields.empty();
    const QVector<int> map = columnsFor(packet.fields);
    const QVector<FieldSpec> definitions = adopt ? packet.fields : [&] {
        QVector<FieldSpec> s;
        for (const auto& f : m_fields)
            s.push_back(f->definition());
        return s;
    }();
    bool sameOrder = map.size() == packet.fields.size();
    for (int i = 0; sameOrder && i < map.size(); ++i)
        sameOrder = map[i] == i;
    std::vector<Record> rows(size_t(packet.rows.size()));
    int line = 0;
    for (const Row& packetRow : packet.rows) {
        ++line;
        if (packetRow.size() != packet.fields.size())
            throw EDatabaseError(
                QStringLiteral("%1: a linha %2 do pacote tem %3 valores para %4 campos")
                    .arg(m_name)
                    .arg(line)
                    .arg(packetRow.size())
                    .arg(packet.fields.size()));
        for (int i = 0; i < map.size(); ++i) {
            const QString problem = protocol::checkValue(definitions[i], packetRow[map[i]]);
            if (!problem.isEmpty())
                throw EDatabaseError(
                    QStringLiteral("%1: linha %2: %3").arg(m_name).arg(line).arg(problem));
        }
        Record& rec = rows[size_t(line - 1)];
        rec.id = line;
        if (sameOrder) {
            // Shared with the packet until either changes.
            rec.values = std::make_unique<Row>(packetRow);
        } else {
            rec.values = std::make_unique<Row>();
            rec.values->reserve(map.size());
            for (int i = 0; i < map.size(); ++i)
                rec.values->push_back(packetRow[map[i]]);
        }
    }
    replaceContent(std::move(rows), adopt ? packet.fields : QVector<FieldSpec>{}, nullptr, {});
}

void TClientDataSet::SetData(std::shared_ptr<const protocol::PacketColumns> packet) {
    if (!packet) throw EDatabaseError(QStringLiteral("%1: nenhum pacote recebido").arg(m_name));
    const bool adopt = m_fields.empty();
    QVector<int> map = columnsFor(packet->fields());
    // The reader checked every value against the packet's own fields; only a text longer than
    // this set's field allows is left to find.
    for (int i = 0; !adopt && i < map.size(); ++i) {
        const FieldSpec& field = m_fields[size_t(i)]->definition();
        if (field.type != protocol::FieldType::String ||
            packet->fields()[map[i]].size <= field.size)
            continue;
        for (int r = 0; r < packet->rowCount(); ++r)
            if (packet->textLength(r, map[i]) > field.size)
                throw EDatabaseError(
                    QStringLiteral("%1: linha %2: %3")
                        .arg(m_name)
                        .arg(r + 1)
                        .arg(protocol::checkValue(field, packet->value(r, map[i]))));
    }
    std::vector<Record> rows;
    rows.reserve(size_t(packet->rowCount()));
    for (int r = 0; r < packet->rowCount(); ++r)
        rows.push_back(Record{nullptr, r + 1, r, Record::Status::Unchanged});
    const QVector<FieldSpec> adopted = adopt ? packet->fields() : QVector<FieldSpec>{};
    replaceContent(std::move(rows), adopted, std::move(packet), std::move(map));
}

void TClientDataSet::replaceContent(std::vector<Record> rows, const QVector<FieldSpec>& adopted,
                                    std::shared_ptr<const protocol::PacketColumns> loaded,
                                    QVector<int> loadedColumns) {
    setState(DataSetState::Inactive);
    for (const FieldSpec& definition : adopted)
        m_fields.push_back(std::make_unique<TField>(this, FieldCount(), definition));
    m_rows = std::move(rows);
    m_loaded = std::move(loaded);
    m_loadedColumns = std::move(loadedColumns);
    m_nextId = int(m_rows.size()) + 1;
    m_changeLog.clear();
    m_originals.clear();
    m_buffer.clear();
    m_current = m_rows.empty() ? -1 : 0;
    m_bof = true;
    m_eof = m_rows.empty();
    setState(DataSetState::Browse);
    notifyRecordChanged();
    if (!m_rows.empty()) fire(AfterScroll);
}

QVariant TClientDataSet::recordValue(const Record& rec, int field) const {
    if (rec.values) return rec.values->value(field);
    return m_loaded->value(rec.source, m_loadedColumns[field]);
}

Row TClientDataSet::recordValues(const Record& rec) const {
    if (rec.values) return *rec.values;
    Row values(FieldCount());
    for (int f = 0; f < FieldCount(); ++f)
        values[f] = m_loaded->value(rec.source, m_loadedColumns[f]);
    return values;
}

QVariant TClientDataSet::ValueAt(int recNo, int field) const {
    if (recNo < 0 || recNo >= RecordCount() || field < 0 || field >= FieldCount()) return {};
    return recordValue(m_rows[size_t(recNo)], field);
}

DataPacket TClientDataSet::Data() const {
    DataPacket p;
    for (const auto& f : m_fields)
        p.fields.push_back(f->definition());
    p.rows.reserve(qsizetype(m_rows.size()));
    for (const Record& r : m_rows)
        p.rows.push_back(recordValues(r));
    return p;
}

void TClientDataSet::Close() {
    m_rows.clear();
    m_loaded.reset();
    m_loadedColumns.clear();
    m_changeLog.clear();
    m_originals.clear();
    m_buffer.clear();
    m_current = -1;
    m_bof = m_eof = true;
    setState(DataSetState::Inactive);
    notifyRecordChanged();
}

void TClientDataSet::Edit() {
    checkActive();
    if (Editing()) return;
    if (IsEmpty()) {
        Insert();
        return;
    }
    fire(BeforeEdit);
    m_buffer = recordValues(m_rows[size_t(m_current)]);
    setState(DataSetState::Edit);
    fire(AfterEdit);
}

bool TClientDataSet::Modified() const {
    if (m_state == DataSetState::Insert)
        return std::any_of(m_buffer.begin(), m_buffer.end(),
                           [](const QVariant& v) { return !v.isNull(); });
    if (m_state != DataSetState::Edit) return false;
    return m_buffer != recordValues(m_rows[size_t(m_current)]);
}

void TClientDataSet::Insert() {
    checkActive();
    if (Editing()) Post();
    fire(BeforeInsert);
    m_buffer = Row(FieldCount());
    setState(DataSetState::Insert);
    notifyRecordChanged();
    fire(AfterInsert);
}

void TClientDataSet::Post() {
    checkActive();
    if (!Editing()) return;
    for (DataSetObserver* o : QList<DataSetObserver*>(m_observers))
        o->dataSetUpdateRecord();
    fire(BeforePost);
    if (m_state == DataSetState::Insert) {
        Record rec;
        rec.values = std::make_unique<Row>(m_buffer);
        rec.status = Record::Status::Inserted;
        rec.id = m_nextId++;
        const int pos = m_current < 0 ? 0 : m_current;
        m_rows.insert(m_rows.begin() + pos, std::move(rec));
        m_current = pos;
        m_eof = m_bof = false;
        m_changeLog.push_back(m_rows[size_t(pos)].id);
    } else {
        Record& rec = m_rows[size_t(m_current)];
        const Row current = recordValues(rec);
        if (m_buffer != current) {
            if (rec.status == Record::Status::Unchanged) {
                m_originals[rec.id] = current;
                rec.status = Record::Status::Modified;
                m_changeLog.push_back(rec.id);
            }
            if (rec.values)
                *rec.values = m_buffer;
            else
                rec.values = std::make_unique<Row>(m_buffer);
            // Changed back to what the server has: nothing left to send for this record.
            if (rec.status == Record::Status::Modified && *rec.values == m_originals.at(rec.id)) {
                rec.status = Record::Status::Unchanged;
                m_originals.erase(rec.id);
                std::erase(m_changeLog, rec.id);
            }
        }
    }
    m_buffer.clear();
    setState(DataSetState::Browse);
    notifyRecordChanged();
    fire(AfterPost);
}

void TClientDataSet::Cancel() {
    checkActive();
    if (!Editing()) return;
    fire(BeforeCancel);
    m_buffer.clear();
    setState(DataSetState::Browse);
    notifyRecordChanged();
    fire(AfterCancel);
}

void TClientDataSet::moveCursor(int target) {
    checkActive();
    if (Editing()) Post();
    if (m_rows.empty()) {
        m_bof = m_eof = true;
        return;
    }
    target = std::clamp(target, 0, RecordCount() - 1);
    if (target == m_current) return;
    fire(BeforeScroll);
    m_current = target;
    notifyRecordChanged();
    fire(AfterScroll);
}

void TClientDataSet::First() {
    moveCursor(0);
    m_bof = true;
    m_eof = m_rows.empty();
}

void TClientDataSet::Last() {
    moveCursor(RecordCount() - 1);
    m_eof = true;
    m_bof = m_rows.empty();
}

void TClientDataSet::Next() {
    checkActive();
    if (m_current + 1 >= RecordCount()) {
        if (Editing()) Post();
        m_eof = true;
        return;
    }
    moveCursor(m_current + 1);
    m_bof = m_eof = false;
}

void TClientDataSet::Prior() {
    checkActive();
    if (m_current <= 0) {
        if (Editing()) Post();
        m_bof = true;
        return;
    }
    moveCursor(m_current - 1);
    m_bof = m_eof = false;
}

void TClientDataSet::MoveTo(int recNo) {
    moveCursor(recNo);
    m_bof = m_current <= 0;
    m_eof = m_rows.empty();
}

protocol::Delta TClientDataSet::Delta() const {
    protocol::Delta d;
    for (const auto& f : m_fields)
        d.fields.push_back(f->definition());
    // The log holds few records; one pass finds them all, in the log's order.
    std::unordered_map<int, const Record*> changed;
    for (const Record& r : m_rows)
        if (r.status != Record::Status::Unchanged) changed.emplace(r.id, &r);
    for (const int id : m_changeLog) {
        const Record& rec = *changed.at(id);
        protocol::DeltaChange c;
        if (rec.status == Record::Status::Inserted) {
            c.op = protocol::DeltaChange::Op::Insert;
        } else {
            c.op = protocol::DeltaChange::Op::Update;
            c.oldValues = m_originals.at(rec.id);
        }
        c.newValues = *rec.values;
        d.changes.push_back(std::move(c));
    }
    return d;
}

void TClientDataSet::MergeChangeLog() {
    if (m_changeLog.empty()) return;
    for (Record& rec : m_rows)
        rec.status = Record::Status::Unchanged;
    m_changeLog.clear();
    m_originals.clear();
}

void TClientDataSet::CancelUpdates() {
    if (m_changeLog.empty()) return;
    std::erase_if(m_rows, [](const Record& r) { return r.status == Record::Status::Inserted; });
    for (Record& rec : m_rows) {
        if (rec.status != Record::Status::Modified) continue;
        *rec.values = m_originals.at(rec.id);
        rec.status = Record::Status::Unchanged;
    }
    m_changeLog.clear();
    m_originals.clear();
    if (m_rows.empty()) {
        m_current = -1;
        m_bof = m_eof = true;
    } else {
        m_current = std::clamp(m_current, 0, RecordCount() - 1);
    }
    notifyRecordChanged();
}

QVariant TClientDataSet::valueAt(int field) const {
    if (Editing()) return m_buffer.value(field);
    if (m_current < 0 || !Active()) return {};
    return recordValue(m_rows[size_t(m_current)], field);
}

void TClientDataSet::setValueAt(int field, const QVariant& input) {
    if (!Editing())
        throw EDatabaseError(QStringLiteral("%1: o registro não está em edição").arg(m_name));
    const FieldSpec& definition = m_fields[size_t(field)]->definition();
    QVariant value = input;
    if (!value.isNull()) {
        if (definition.type == FieldType::Float && value.typeId() != QMetaType::Double &&
            value.canConvert<double>()) {
            // Text that is not a number stays text and is refused below, instead of becoming 0.
            bool ok = false;
            const double number = value.toDouble(&ok);
            if (ok) value = number;
        } else if (definition.type == FieldType::Date && value.typeId() == QMetaType::QDateTime)
            value = value.toDateTime().date();
    }
    const QString problem = protocol::checkValue(definition, value);
    if (!problem.isEmpty()) throw EDatabaseError(QStringLiteral("Valor inválido: %1").arg(problem));
    if (m_buffer[field] == value && m_buffer[field].isNull() == value.isNull()) return;
    m_buffer[field] = value;
    for (DataSetObserver* o : QList<DataSetObserver*>(m_observers))
        o->dataSetFieldChanged(*m_fields[size_t(field)]);
}

void TClientDataSet::focusField(TField& field) {
    for (DataSetObserver* o : QList<DataSetObserver*>(m_observers))
        o->dataSetFocusControl(field);
}

void TClientDataSet::addObserver(DataSetObserver* observer) {
    if (!m_observers.contains(observer)) m_observers.append(observer);
}

void TClientDataSet::removeObserver(DataSetObserver* observer) {
    m_observers.removeAll(observer);
}
