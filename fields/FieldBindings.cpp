// Which rule runs when a field of the general or the branch record is typed into or left.

#include "Parametros.h"

void TfrmParametros::bindFieldRules() {
    TField& vacationKind = cdsGeral.FieldByName(QStringLiteral("IDTPFERIASPG"));
    vacationKind.OnGetText = [this](TField& f, QString& text, bool display) {
        cdsGeralIDTPFERIASPGGetText(f, text, display);
    };
    vacationKind.OnSetText = [this](TField& f, const QString& text) {
        cdsGeralIDTPFERIASPGSetText(f, text);
    };
    drgTipoIndice->OnChange = [this] { drgTipoIndiceChange(); };
    dcbFerias->OnChange = [this] { dcbFeriasChange(); };

    OnExit(dbeVrCestaBas, [this] { dbeVrCestaBasExit(dbeVrCestaBas); });
    OnExit(dbdDtBaseCB, [this] { dbdDtBaseCBExit(dbdDtBaseCB); });
    OnExit(dbeFechamento, [this] { dbeFechamentoExit(dbeFechamento); });
    OnExit(dbdUltiFecha, [this] { dbdUltiFechaExit(dbdUltiFecha); });
    OnExit(dbeMediConv, [this] { dbeMediConvExit(dbeMediConv); });
    OnExit(dbeDiretorio, [this] { Vd_Diretorio(); });
}
