#include "DataSets.h"

#include "contract/Layouts.h"

#include <QHash>

using protocol::FieldSpec;

namespace data {

namespace {

// How the screen shows a field: its label and, for some numbers, their formats. Fields not named
// here keep their own name as label.
struct Shown {
    QString label;
    void (*format)(TField&) = nullptr;
};

void percent(TField& f) {
    f.DisplayFormat = QStringLiteral("#,##0.00 %");
    f.EditFormat = QStringLiteral("#,##0.00");
}
void money(TField& f) {
    f.DisplayFormat = f.EditFormat = QStringLiteral("#,##0.00");
}

// The record set's fields are the layout's, in its order.
void define(TClientDataSet& ds, const contract::Layout& layout,
            const QHash<QString, Shown>& shown = {}) {
    for (const FieldSpec& definition : layout.fields) {
        const auto how = shown.constFind(definition.name);
        if (how == shown.constEnd()) {
            ds.AddField(definition);
            continue;
        }
        TField& field = ds.AddField(definition, how->label);
        if (how->format) how->format(field);
    }
}

} // namespace

void defineGeral(TClientDataSet& ds) {
    define(ds, contract::geral(),
           {{QStringLiteral("VRPRAZEFEFUN"),
             {QStringLiteral("Prazo Máximo para Efetivação do Funcionário (dias)")}},
            {QStringLiteral("VRPEENCEFET"), {QStringLiteral("Encargos com Efetivos"), percent}},
            {QStringLiteral("VRPEENCTEMP"), {QStringLiteral("Encargos com Temporários"), percent}},
            {QStringLiteral("VRPEDESCVT"),
             {QStringLiteral("Desconto Máximo de Vale Transporte"), percent}},
            {QStringLiteral("VRCESTABAS"), {QStringLiteral("Valor"), money}},
            {QStringLiteral("NMINDICE"), {QStringLiteral("Índice Financeiro")}}});
}

void defineFilial(TClientDataSet& ds) {
    define(ds, contract::filial());
}

void defineInspecao(TClientDataSet& ds) {
    define(ds, contract::inspecao(),
           {{QStringLiteral("CDINSPECAO"), {QStringLiteral("Código")}},
            {QStringLiteral("NMINSPECAO"), {QStringLiteral("Nome")}},
            {QStringLiteral("IDCARG"), {QStringLiteral("Q. Cargo")}},
            {QStringLiteral("IDDEPT"), {QStringLiteral("Q. Depto.")}},
            {QStringLiteral("IDPADR"), {QStringLiteral("Q. Padrão")}}});
}

void defineCargo(TClientDataSet& ds) {
    define(ds, contract::cargo(),
           {{QStringLiteral("IDCHECK"), {QStringLiteral("4")}},
            {QStringLiteral("CDCARGO"), {QStringLiteral("Código")}},
            {QStringLiteral("NMCARGO"), {QStringLiteral("Cargo")}}});
}

void defineDepto(TClientDataSet& ds) {
    define(ds, contract::depto(),
           {{QStringLiteral("IDCHECK"), {QStringLiteral("4")}},
            {QStringLiteral("CDDEPTO"), {QStringLiteral("Código")}},
            {QStringLiteral("NMDEPTO"), {QStringLiteral("Departamento")}}});
}

void defineVdConv(TClientDataSet& ds) {
    define(ds, contract::convMedico(),
           {{QStringLiteral("CDCONVMEDI"), {QStringLiteral("Código")}},
            {QStringLiteral("NMCONVMEDI"), {QStringLiteral("Nome")}}});
}

} // namespace data
