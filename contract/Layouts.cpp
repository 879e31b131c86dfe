#include "Layouts.h"

namespace contract {

using protocol::FieldSpec;
using protocol::FieldType;

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
const QString Percent = QStringLiteral("#,##0.00 %");
const QString Money = QStringLiteral("#,##0.00");
} // namespace

QVector<FieldSpec> Layout::storedFields() const {
    QVector<FieldSpec> stored;
    for (const FieldSpec& f : fields)
        if (!isDisplayOnly(f.name)) stored << f;
    return stored;
}

const FieldSpec* Layout::field(const QString& name) const {
    for (const FieldSpec& f : fields)
        if (f.name == name) return &f;
    return nullptr;
}

const Layout& geral() {
    static const Layout layout{
        "PARAMRH",
        "CDPARAMRH",
        {text("CDPARAMRH", 1), number("VRPRAZEFEFUN"), number("VRPEENCEFET"), number("VRPEENCTEMP"),
         number("VRPEDESCVT"), text("IDTPINDCB", 1), text("CDINDICECB", 4), date("DTBASECB"),
         number("VRCESTABAS"), text("NMINDICE", 30), text("IDTPFERIASPG", 1),
         number("QTDIASFERIPG")},
        {QStringLiteral("NMINDICE")},
        {{QStringLiteral("VRPEENCTEMP"), {QStringLiteral("Encargos com Temporários (%)"), Percent}},
         {QStringLiteral("VRPEENCEFET"), {QStringLiteral("Encargos com Efetivos (%)"), Percent}},
         {QStringLiteral("VRPEDESCVT"),
          {QStringLiteral("Desconto Máximo de Vale Transporte (%)"), Percent}},
         {QStringLiteral("IDTPINDCB"),
          {QStringLiteral("Tipo de Índice"),
           {},
           {{QStringLiteral("P"), QStringLiteral("Percentual")},
            {QStringLiteral("V"), QStringLiteral("Valor")}}}},
         {QStringLiteral("CDINDICECB"), {QStringLiteral("Índice Financeiro"), {}, {}, &indices}},
         {QStringLiteral("DTBASECB"), {QStringLiteral("Data Base")}},
         {QStringLiteral("VRCESTABAS"), {QStringLiteral("Valor"), Money}},
         {QStringLiteral("VRPRAZEFEFUN"),
          {QStringLiteral("Prazo Máximo para Efetivação do Funcionário (dias)")}},
         {QStringLiteral("IDTPFERIASPG"),
          {QStringLiteral("Tipo"),
           {},
           {{QStringLiteral("U"), QStringLiteral("Dias Úteis")},
            {QStringLiteral("C"), QStringLiteral("Dias Corridos")}}}},
         {QStringLiteral("QTDIASFERIPG"), {QStringLiteral("Quantidade de Dias")}}}};
    return layout;
}

const Layout& filial() {
    static const Layout layout{
        "PARAMFILIAL",
        "CDFILIAL",
        {text("CDFILIAL", 4), text("NMFILIAL", 30), text("DIFECHRH", 2), date("DTULTFECHRH"),
         number("VRTOLEAPON"), text("NMDIRPONTO", 100), text("CDCONMEDDEF", 2),
         text("NMCONVMEDI", 30), text("IDTPHORARIO", 1), text("IDTIPOAPON", 2),
         text("IDUTRELOGIO", 1), text("IDSAIEVEN", 1), text("VRFATCOMP", 2), text("IDSAID1", 1),
         text("IDENTRAD2", 1), text("IDSAID2", 1), text("IDENTRAD1", 1)},
        {QStringLiteral("NMFILIAL"), QStringLiteral("NMCONVMEDI")},
        {{QStringLiteral("DIFECHRH"), {QStringLiteral("Dia de Fechamento do RH")}},
         {QStringLiteral("DTULTFECHRH"), {QStringLiteral("Data do Último Fechamento do RH")}},
         {QStringLiteral("CDCONMEDDEF"),
          {QStringLiteral("Convênio Médico Padrão"), {}, {}, &medicalPlans}},
         {QStringLiteral("NMDIRPONTO"),
          {QStringLiteral("Diretório para Integração com a Folha de Pagamento")}}}};
    return layout;
}

const Layout& inspecao() {
    static const Layout layout{nullptr,
                               "CDINSPECAO",
                               {text("CDINSPECAO", 10), text("NMINSPECAO", 200), text("IDCARG", 1),
                                text("IDDEPT", 1), text("IDPADR", 1)},
                               {}};
    return layout;
}

const Layout& cargo() {
    static const Layout layout{
        nullptr, "CDCARGO", {text("IDCHECK", 1), text("CDCARGO", 4), text("NMCARGO", 30)}, {}};
    return layout;
}

const Layout& depto() {
    static const Layout layout{
        nullptr, "CDDEPTO", {text("IDCHECK", 1), text("CDDEPTO", 3), text("NMDEPTO", 30)}, {}};
    return layout;
}

const Layout& convMedico() {
    static const Layout layout{
        nullptr, "CDCONVMEDI", {text("CDCONVMEDI", 2), text("NMCONVMEDI", 30)}, {}};
    return layout;
}

const Layout& history() {
    // The arguments may be long; larger ones (rare) are told by their size.
    static const Layout layout{"RHAUDITORIA",
                               "NRAUDITORIA",
                               {number("NRAUDITORIA"), text("DTAUDITORIA", 30), text("CDFILIAL", 4),
                                text("NMTOKEN", 60), text("NMMETODO", 30), text("IDRECUSADO", 1),
                                text("DSARGUMENTOS", 1'000'000)},
                               {}};
    return layout;
}

} // namespace contract
