#include "DataSets.h"

using protocol::FieldSpec;
using protocol::FieldType;

namespace data {

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

void percent(TField& f) {
    f.DisplayFormat = QStringLiteral("#,##0.00 %");
    f.EditFormat = QStringLiteral("#,##0.00");
}
} // namespace

void defineGeral(TClientDataSet& ds) {
    ds.AddField(text("CDPARAMRH", 1));
    ds.AddField(number("VRPRAZEFEFUN"),
                QStringLiteral("Prazo Máximo para Efetivação do Funcionário (dias)"));
    percent(ds.AddField(number("VRPEENCEFET"), QStringLiteral("Encargos com Efetivos")));
    percent(ds.AddField(number("VRPEENCTEMP"), QStringLiteral("Encargos com Temporários")));
    percent(
        ds.AddField(number("VRPEDESCVT"), QStringLiteral("Desconto Máximo de Vale Transporte")));
    ds.AddField(text("IDTPINDCB", 1));
    ds.AddField(text("CDINDICECB", 4));
    ds.AddField(date("DTBASECB"));
    TField& cesta = ds.AddField(number("VRCESTABAS"), QStringLiteral("Valor"));
    cesta.DisplayFormat = cesta.EditFormat = QStringLiteral("#,##0.00");
    ds.AddField(text("NMINDICE", 30), QStringLiteral("Índice Financeiro"));
    ds.AddField(text("IDTPFERIASPG", 1));
    ds.AddField(number("QTDIASFERIPG"));
}

void defineFilial(TClientDataSet& ds) {
    ds.AddField(text("CDFILIAL", 4));
    ds.AddField(text("NMFILIAL", 30));
    ds.AddField(text("DIFECHRH", 2));
    ds.AddField(date("DTULTFECHRH"));
    ds.AddField(number("VRTOLEAPON"));
    ds.AddField(text("NMDIRPONTO", 100));
    ds.AddField(text("CDCONMEDDEF", 2));
    ds.AddField(text("NMCONVMEDI", 30));
    ds.AddField(text("IDTPHORARIO", 1));
    ds.AddField(text("IDTIPOAPON", 2));
    ds.AddField(text("IDUTRELOGIO", 1));
    ds.AddField(text("IDSAIEVEN", 1));
    ds.AddField(text("VRFATCOMP", 2));
    ds.AddField(text("IDSAID1", 1));
    ds.AddField(text("IDENTRAD2", 1));
    ds.AddField(text("IDSAID2", 1));
    ds.AddField(text("IDENTRAD1", 1));
}

void defineInspecao(TClientDataSet& ds) {
    ds.AddField(text("CDINSPECAO", 10), QStringLiteral("Código"));
    ds.AddField(text("NMINSPECAO", 200), QStringLiteral("Nome"));
    ds.AddField(text("IDCARG", 1), QStringLiteral("Q. Cargo"));
    ds.AddField(text("IDDEPT", 1), QStringLiteral("Q. Depto."));
    ds.AddField(text("IDPADR", 1), QStringLiteral("Q. Padrão"));
}

void defineCargo(TClientDataSet& ds) {
    ds.AddField(text("IDCHECK", 1), QStringLiteral("4"));
    ds.AddField(text("CDCARGO", 4), QStringLiteral("Código"));
    ds.AddField(text("NMCARGO", 30), QStringLiteral("Cargo"));
}

void defineDepto(TClientDataSet& ds) {
    ds.AddField(text("IDCHECK", 1), QStringLiteral("4"));
    ds.AddField(text("CDDEPTO", 3), QStringLiteral("Código"));
    ds.AddField(text("NMDEPTO", 30), QStringLiteral("Departamento"));
}

void defineVdConv(TClientDataSet& ds) {
    ds.AddField(text("CDCONVMEDI", 2), QStringLiteral("Código"));
    ds.AddField(text("NMCONVMEDI", 30), QStringLiteral("Nome"));
}

} // namespace data
