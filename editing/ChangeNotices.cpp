// What the screen learns of changes others store: the service tells the records this screen
// shows, and a bar above the pages says who changed which, with "Verificar" to read them again.
// The screen never reads again by itself: a value must not change under the user's eyes without
// a word, and every open screen reading at each change would load the service for nothing.

#include "ModuleState.h"

#include "Parametros.h"
#include "contract/Notices.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>

namespace {
// Typed, posted and refused, or in edit: what a read would throw away.
bool holdsUnsentChanges(const TClientDataSet& records) {
    return records.Active() && (records.Editing() || records.ChangeCount() > 0);
}
} // namespace

QString TfrmParametros::shownBranch() const {
    return medCdFilial->text().isEmpty() ? FiliProc() : medCdFilial->text();
}

void TfrmParametros::subscribeToChanges() {
    const QString records =
        QStringList{contract::generalRecord(), contract::branchRecord(shownBranch()),
                    contract::questionnaireRecord(FiliProc())}
            .join(u',');
    if (records == m_subscribed && netParamZOL.Generation() == m_subscribedOn) return;
    try {
        const protocol::Response r =
            netParamZOL.AppServer().call(QString(contract::SubscribeMethod), {records});
        if (!r.ok) return;
        m_subscribed = records;
        m_subscribedOn = netParamZOL.Generation();
        // Notices must come also after the server was restarted, without a call to bring them.
        netParamZOL.KeepConnected = true;
    } catch (const std::exception&) {
        // Without notices the screen works as before: Verify and Confirm still tell.
    }
}

void TfrmParametros::netParamZOLNotice(const QString& method, const QByteArray& paramsJson) {
    if (method != contract::ChangeNotice) return;
    const QJsonObject notice = QJsonDocument::fromJson(paramsJson).object();
    const QString record = notice.value(u"registro").toString();
    QString what;
    if (record == contract::generalRecord())
        what = QStringLiteral("Os parâmetros gerais foram alterados");
    else if (record == contract::branchRecord(shownBranch()))
        what = QStringLiteral("Os parâmetros da filial %1 foram alterados").arg(shownBranch());
    else if (record == contract::questionnaireRecord(FiliProc()))
        what = QStringLiteral("Os questionários da filial %1 foram alterados").arg(FiliProc());
    else
        return; // of a branch no longer shown
    const QString who = notice.value(u"quem").toString();
    const QDateTime when =
        QDateTime::fromString(notice.value(u"quando").toString(), Qt::ISODateWithMs).toLocalTime();
    m_changes[record] = what + (who.isEmpty() ? QString() : QStringLiteral(" por ") + who) +
                        QStringLiteral(" às ") + when.toString(QStringLiteral("HH:mm")) +
                        QStringLiteral(".");
    tellChange(record);
}

void TfrmParametros::tellChange(const QString& record) {
    const TClientDataSet* edited = record == contract::generalRecord() ? &cdsGeral
                                   : record.startsWith(u"filial:")     ? &cdsFilial
                                                                       : nullptr;
    QString text = m_changes.value(record);
    if (edited && holdsUnsentChanges(*edited))
        text += QStringLiteral(" Ao confirmar, suas alterações serão comparadas com as gravadas.");
    barAvisos->Tell(record, text);
}

void TfrmParametros::readAgainIfToldChanged(const QString& record, TClientDataSet& records) {
    // What the other user stored beside the confirmed change is shown too, and the bar's word
    // on it is done.
    if (!barAvisos->Subjects().contains(record) || holdsUnsentChanges(records)) return;
    try {
        if (&records == &cdsGeral)
            LoadFromServer(netParamZOL, cdsGeral, contract::method::GetGeral,
                           {QStringLiteral("1")});
        else
            readBranch(m_branchRead);
    } catch (const std::exception& e) {
        noteAbsorbedFailure(QStringLiteral("Gravado, mas não foi possível ler os dados de novo"),
                            e);
        return;
    }
    barAvisos->Forget(record);
}

void TfrmParametros::barAvisosVerificarClick() {
    ActiveShowAvi(host().mainForm(), 1);
    try {
        for (const QString& record : barAvisos->Subjects()) {
            if (record == contract::questionnaireRecord(FiliProc())) {
                questionario.loadQuestionnaires();
                questionario.cdsInspecaoAfterScroll();
            } else {
                const bool geral = record == contract::generalRecord();
                TClientDataSet& records = geral ? cdsGeral : cdsFilial;
                // What the user is editing stays; Confirm compares it with what is stored.
                if (holdsUnsentChanges(records)) {
                    tellChange(record);
                    host().showStatus(QStringLiteral(
                        "Os dados gravados não foram lidos de novo: há alterações não "
                        "confirmadas neste registro. Confirme ou cancele para vê-los."));
                    continue;
                }
                if (geral)
                    LoadFromServer(netParamZOL, cdsGeral, contract::method::GetGeral,
                                   {QStringLiteral("1")});
                else
                    readBranch(shownBranch());
            }
            barAvisos->Forget(record);
        }
        dtsPadraoStateChange();
        dtsFilialStateChange();
    } catch (const std::exception& e) {
        DeactiveShowAvi();
        noteAbsorbedFailure(QStringLiteral("Não foi possível verificar os dados"), e);
        return;
    }
    DeactiveShowAvi();
}
