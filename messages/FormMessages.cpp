#include "FormMessages.h"

// Texts are kept exactly as users know them, blanks included (VRPRAZ_INF has a double blank,
// dtFech_Dv ends with one). Several entries serve no rule of this screen and stay for its peers.
const QStringList& msgPadraoLines() {
    static const QStringList lines{
        QStringLiteral("IND_NC|Índice financeiro não cadastrado."),
        QStringLiteral("DATA_INV|%s não é um dia válido."),
        QStringLiteral("DATA|Data do fechamento deve ser menor ou igual a data atual."),
        QStringLiteral("COD_NC|Filial não cadastrada."),
        QStringLiteral("FILIAL_DEVE|Filial deve ser informada."),
        QStringLiteral("DirFoto_ni|Diretório das fotos dos funcionários deve ser informado."),
        QStringLiteral("DirFoto_ne|Diretório das fotos dos funcionários não existe."),
        QStringLiteral("Domingo|Domingo"),
        QStringLiteral("Segunda|Segunda-Feira"),
        QStringLiteral("Terca|Terça-Feira"),
        QStringLiteral("Quarta|Quarta-Feira"),
        QStringLiteral("Quinta|Quinta-Feira"),
        QStringLiteral("Sexta|Sexta-Feira"),
        QStringLiteral("Sabado|Sábado"),
        QStringLiteral("Validade_ni|Início de validade deve ser informado."),
        QStringLiteral("Validade_nc|Horário base não cadastrado deseja inclui-lo?"),
        QStringLiteral("Entrada_inv|Entrada não foi informada corretamente."),
        QStringLiteral("Saida_inv|Saída não foi informada corretamente."),
        QStringLiteral("Saida>Entr|Horário de saída deve ser maior que o horário de entrada."),
        QStringLiteral(
            "Diretorio_ne|Diretório para integração com a folha de pagamento não existe."),
        QStringLiteral(
            "Diretorio_ni|Diretório para integração com a folha de pagamento deve ser informado."),
        QStringLiteral("Entr>Saida|Horário de entrada deve ser maior que o horário de saída."),
        QStringLiteral("Entr1_Said1|1º entrada deve ser menor ou igual a 1º saída."),
        QStringLiteral("Said1_Entr2|1º saída deve ser menor ou igual a 2º entrada."),
        QStringLiteral("Entr2_Said2|2º entrada deve ser menor ou igual a 2º saída."),
        QStringLiteral("Convenio_nc|Convênio médico não cadastrado."),
        QStringLiteral("Entr1_Said2|Entrada deve ser menor ou igual a saída."),
        QStringLiteral("DirFotoCand_ni|Diretório das fotos dos candidatos deve ser informado."),
        QStringLiteral("DirFotoCand_ne|Diretório das fotos dos candidatos não existe."),
        QStringLiteral("Dir_Cad|Este diretório está sendo utilizado pelas fotos do funcionário."),
        QStringLiteral("Dir_Cad1|Este diretório está sendo utilizado pelas fotos do candidato."),
        QStringLiteral("VRPRAZ_INF|Prazo máximo para efetivação do funcionário (dias)  deve ser "
                       "maior ou igual a zero."),
        QStringLiteral("UTEIS|Dias Úteis"),
        QStringLiteral("CORRIDOS|Dias Corridos"),
        QStringLiteral("dtFech_Dv|Dia de fechamento do RH deve ser informado. "),
        QStringLiteral("CA_INF|Cargo deve ser informado."),
        QStringLiteral("DE_INF|Departamento deve ser informado."),
    };
    return lines;
}
