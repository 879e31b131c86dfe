#pragma once
// The record layouts of the parameters service, as the desktop's record sets hold them and the
// service's packets carry them: field names, types and sizes in packet order, the table and key
// of the two editable records, and which fields are only shown beside a record (names kept in
// other tables, never written with it).

#include "protocol/Packet.h"

#include <QHash>
#include <QStringList>
#include <QVector>

namespace contract {

// A list of codes and their names kept in a table of its own: indices, plans, branches, ...
struct NameList {
    const char* table;
    const char* code;
    const char* name;
};
inline constexpr NameList indices{"INDICE", "CDINDICE", "NMINDICE"};
inline constexpr NameList medicalPlans{"CONVMEDI", "CDCONVMEDI", "NMCONVMEDI"};
inline constexpr NameList branches{"FILIAL", "CDFILIAL", "NMFILIAL"};
inline constexpr NameList positions{"CARGO", "CDCARGO", "NMCARGO"};
inline constexpr NameList departments{"DEPTO", "CDDEPTO", "NMDEPTO"};
inline constexpr NameList questionnaires{"INSPECAO", "CDINSPECAO", "NMINSPECAO"};

struct Layout {
    const char* table; // where the record is stored; null for a list the service composes
    const char* key;   // its key field
    QVector<protocol::FieldSpec> fields;
    QStringList displayOnly;
    // How the screen names and shows a field, where it shows it: its label, the picture of its
    // number, the words for its codes, and the list that names its code. The screen's labels and
    // the history read them here.
    struct Shown {
        QString caption;
        QString picture = {};
        QHash<QString, QString> words = {};
        const NameList* names = nullptr;
    };
    QHash<QString, Shown> shown = {};

    // The field's label on the screen; its name where the screen shows none.
    QString caption(const QString& field) const {
        return shown.value(field).caption.isEmpty() ? field : shown.value(field).caption;
    }
    bool isDisplayOnly(const QString& field) const { return displayOnly.contains(field); }
    // The fields stored in the record's own table, in packet order.
    QVector<protocol::FieldSpec> storedFields() const;
    const protocol::FieldSpec* field(const QString& name) const;
};

// The general parameters (one record, key "1") and a branch's parameters.
const Layout& geral();
const Layout& filial();
// The questionnaires of a level with the session branch's three flags, the positions and the
// departments with the tick of one questionnaire, and the medical plans.
const Layout& inspecao();
const Layout& cargo();
const Layout& depto();
const Layout& convMedico();
// The audit rows as GetHistorico returns them.
const Layout& history();

// GetHistorico returns at most this many rows; the desktop pages with the last number.
constexpr int HistoryPageRows = 200;

} // namespace contract
