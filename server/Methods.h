#pragma once
// One call's work on a storage connection: the reads, the writes with their audit row, the ties of
// the questionnaires and the deltas of the two editable records. Each part in its own file.

#include "ParamService.h"

#include "contract/Layouts.h"
#include "contract/Methods.h"

#include <QHash>
#include <functional>
#include <string>
#include <string_view>

namespace contract {
struct Lookup;
}

namespace rhserver {

[[noreturn]] void refuse(const QString& message);
[[noreturn]] void conflict(const QString& message);
// A code as quoted back to the user: hostile or very long texts stay readable.
QString shown(const QString& code);
bool sameValue(const protocol::FieldSpec& field, const QVariant& a, const QVariant& b);

// A read that answers one record at most (GetGeral, GetFilial): its one parameter is the key.
struct OneRecordRead {
    const char* sql;
    const QVector<protocol::FieldSpec>& fields;
};
// The read of that method when it is one, or null.
const OneRecordRead* oneRecordRead(const contract::Method& method);

// A code of another table and how to check it.
struct Reference {
    const char* sql; // SELECT 1 ... WHERE code = ?
    const char* message;
};
extern const Reference indiceRef, convRef, filialRef, inspecaoRef, inspecaoLockedRef, cargoRef,
    deptoRef;

// An editable record's layout and, for its codes of other tables, how to check them.
struct RecordTable {
    const contract::Layout& layout;
    QHash<QString, Reference> references;
};
const RecordTable& recordTable(contract::Record record);

class Methods {
public:
    Methods(Storage& s, const SessionInfo& session, std::string_view paramsJson)
        : s(s)
        , session(session)
        , paramsJson(paramsJson) {}

    bool exists(const Reference& ref, const QString& code);
    void require(const Reference& ref, const QString& code);

    std::string getGeral(const QString& key);
    std::string getFilial(const QString& branch);
    std::string getConvMed(const QString& code, const QString& all);
    std::string getInspecao(const QString& levelText);
    std::string getCargo(const QString& inspecao);
    std::string getDepto(const QString& inspecao);
    // A lookup of the desktop: its fixed statement with the values given, in its parameters'
    // order.
    std::string lookup(const contract::Lookup& l, const QVector<protocol::Argument>& args);

    // Runs a write and its audit row in one transaction; nothing stays when either fails. The
    // body tells whether it changed anything: a write that changes nothing leaves no audit row.
    void write(std::string_view method, const std::function<bool()>& body);
    // The audit row alone, of a call the role did not allow: the data is as it was.
    void recordRefusal(std::string_view method);
    void tie(std::string_view method, const contract::Tie& rule,
             const QVector<protocol::Argument>& args);
    void applyDelta(std::string_view method, const RecordTable& table,
                    const protocol::Delta& delta);

    Storage& s;

private:
    void audit(std::string_view method, bool refused);
    // The positions or departments, each ticked when tied to the questionnaire in the session's
    // branch: sql takes the branch and the questionnaire.
    std::string tickedList(const char* sql, const QString& inspecao,
                           const contract::Layout& layout);
    // The fields of the delta that have a column here (target not -1), with their values.
    static protocol::Delta storedPart(const protocol::Delta& delta, const QVector<int>& target);
    static QString insertedMeanwhile();
    static QString describe(protocol::FieldType type);
    void checkKey(const RecordTable& table, const QVariant& key);
    void checkReferences(const RecordTable& table, const protocol::FieldSpec& column,
                         const QVariant& value);
    // Applies one change; false when it changed nothing stored.
    bool applyChange(const RecordTable& table, const protocol::Delta& delta,
                     const QVector<int>& target, int keyField, const protocol::DeltaChange& change);

    const SessionInfo& session;
    std::string_view paramsJson;
};

} // namespace rhserver
