#include "Messages.h"

QString TMessages::Msg(const QString& key) const {
    for (const QString& line : Lines) {
        const qsizetype bar = line.indexOf(u'|');
        if (bar >= 0 && QStringView(line).left(bar) == key) return line.mid(bar + 1);
    }
    return {};
}

ModalResult TMessages::ShowMsg(const QString& key, MsgDlgType kind,
                               const QList<ModalResult>& buttons, int /*helpContext*/) const {
    return host().ask(Msg(key), kind, buttons);
}

bool TMessages::ConfirmDiscard(const QString& key) const {
    return host().confirmDiscard(Msg(key));
}

const TMessages& msgMensagensPadroes() {
    static const TMessages table(QStringList{
        QStringLiteral("Canc|Deseja cancelar as alterações feitas neste registro?"),
        QStringLiteral("Excl|Deseja excluir este registro?"),
        QStringLiteral("Sair|Há alterações não confirmadas. Deseja sair assim mesmo?"),
    });
    return table;
}
