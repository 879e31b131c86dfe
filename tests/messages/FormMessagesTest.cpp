// The form's message table and the keyed look-up and question of the message component.

#include "FormMessages.h"
#include "QtPrinters.h"
#include "RecordingHost.h"

#include <gtest/gtest.h>

namespace {

const TMessages msgPadrao(msgPadraoLines());

TEST(FormMessages, TableHoldsTheThirtySevenKeysInOrder) {
    const QStringList keys{
        "IND_NC",       "DATA_INV",    "DATA",           "COD_NC",         "FILIAL_DEVE",
        "DirFoto_ni",   "DirFoto_ne",  "Domingo",        "Segunda",        "Terca",
        "Quarta",       "Quinta",      "Sexta",          "Sabado",         "Validade_ni",
        "Validade_nc",  "Entrada_inv", "Saida_inv",      "Saida>Entr",     "Diretorio_ne",
        "Diretorio_ni", "Entr>Saida",  "Entr1_Said1",    "Said1_Entr2",    "Entr2_Said2",
        "Convenio_nc",  "Entr1_Said2", "DirFotoCand_ni", "DirFotoCand_ne", "Dir_Cad",
        "Dir_Cad1",     "VRPRAZ_INF",  "UTEIS",          "CORRIDOS",       "dtFech_Dv",
        "CA_INF",       "DE_INF"};
    QStringList found;
    for (const QString& line : msgPadraoLines()) {
        ASSERT_TRUE(line.contains(u'|')) << line.toStdString();
        found << line.section(u'|', 0, 0);
        EXPECT_FALSE(line.section(u'|', 1).trimmed().isEmpty()) << line.toStdString();
    }
    EXPECT_EQ(found, keys);
}

TEST(FormMessages, TextsKeepTheirBlanksAndSigns) {
    EXPECT_EQ(
        msgPadrao.Msg("VRPRAZ_INF"),
        "Prazo máximo para efetivação do funcionário (dias)  deve ser maior ou igual a zero.");
    EXPECT_EQ(msgPadrao.Msg("dtFech_Dv"), "Dia de fechamento do RH deve ser informado. ");
    EXPECT_EQ(msgPadrao.Msg("IND_NC"), "Índice financeiro não cadastrado.");
    EXPECT_EQ(msgPadrao.Msg("Diretorio_ne"),
              "Diretório para integração com a folha de pagamento não existe.");
    EXPECT_EQ(msgPadrao.Msg("Convenio_nc"), "Convênio médico não cadastrado.");
    // The masculine ordinal, not the degree sign.
    for (const char* key : {"Entr1_Said1", "Said1_Entr2", "Entr2_Said2"}) {
        EXPECT_TRUE(msgPadrao.Msg(key).contains(QChar(0x00BA))) << key;
        EXPECT_FALSE(msgPadrao.Msg(key).contains(QChar(0x00B0))) << key;
    }
}

TEST(FormMessages, OnlyTheInvalidDayTextHasAPlaceholder) {
    QStringList withPlaceholder;
    for (const QString& line : msgPadraoLines())
        if (line.contains(u'%')) withPlaceholder << line.section(u'|', 0, 0);
    EXPECT_EQ(withPlaceholder, QStringList({"DATA_INV"}));
    EXPECT_EQ(msgPadrao.Msg("DATA_INV").replace(QStringLiteral("%s"), QStringLiteral("45")),
              "45 não é um dia válido.");
}

TEST(FormMessages, VacationCountTextsMatchTheListItems) {
    EXPECT_EQ(msgPadrao.Msg("UTEIS"), "Dias Úteis");
    EXPECT_EQ(msgPadrao.Msg("CORRIDOS"), "Dias Corridos");
}

TEST(TMessages, LooksKeysUpExactly) {
    EXPECT_EQ(msgPadrao.Msg("Saida>Entr"),
              "Horário de saída deve ser maior que o horário de entrada.");
    EXPECT_EQ(msgPadrao.Msg("Entr>Saida"),
              "Horário de entrada deve ser maior que o horário de saída.");
    EXPECT_EQ(msgPadrao.Msg("Saida"), "");  // a prefix of two keys is not a key
    EXPECT_EQ(msgPadrao.Msg("ind_nc"), ""); // keys are mixed-case
    EXPECT_EQ(msgPadrao.Msg("Inexistente"), "");
    EXPECT_EQ(msgPadrao.Msg(""), "");

    const TMessages own({"A|primeiro|com barra", "sem separador", "B|", "A|segundo"});
    EXPECT_EQ(own.Msg("A"), "primeiro|com barra");
    EXPECT_EQ(own.Msg("B"), "");
    EXPECT_EQ(own.Msg("sem separador"), "");
}

TEST(TMessages, ShowMsgAsksTheHostAndReturnsItsAnswer) {
    RecordingHost host;
    const TMessages& standard = msgMensagensPadroes();
    ASSERT_FALSE(standard.Msg("Canc").isEmpty());

    host.answer = ModalResult::Cancel;
    EXPECT_EQ(
        standard.ShowMsg("Canc", MsgDlgType::Confirmation, {ModalResult::Ok, ModalResult::Cancel}),
        ModalResult::Cancel);
    host.answer = ModalResult::Ok;
    EXPECT_EQ(
        standard.ShowMsg("Canc", MsgDlgType::Confirmation, {ModalResult::Ok, ModalResult::Cancel}),
        ModalResult::Ok);

    ASSERT_EQ(host.questions.size(), 2);
    EXPECT_EQ(host.questions[0].text, standard.Msg("Canc"));
    EXPECT_EQ(host.questions[0].kind, MsgDlgType::Confirmation);
    EXPECT_EQ(host.questions[0].buttons,
              QList<ModalResult>({ModalResult::Ok, ModalResult::Cancel}));
    EXPECT_TRUE(host.errors.isEmpty());

    msgPadrao.ShowMsg("VRPRAZ_INF", MsgDlgType::Warning, {ModalResult::Ok});
    EXPECT_EQ(host.questions.last().text, msgPadrao.Msg("VRPRAZ_INF"));
}

} // namespace
