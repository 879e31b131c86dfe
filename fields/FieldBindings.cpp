// Which rule runs when a field of the general or the branch record is typed into or left.

#include "Parametros.h"

namespace {
using KeyFilter = void (TfrmParametros::*)(QWidget*, int&);

// Each edit's typed keys go through its filter first.
void filterKeys(TfrmParametros* form, std::initializer_list<std::pair<TDBEdit*, KeyFilter>> edits) {
    for (const auto& [edit, filter] : edits)
        edit->OnKeyPress = [form, filter = filter](QWidget* s, int& key) {
            (form->*filter)(s, key);
        };
}
} // namespace

void TfrmParametros::bindFieldRules() {
    TField& vacationKind = cdsGeral.FieldByName(QStringLiteral("IDTPFERIASPG"));
    vacationKind.OnGetText = [this](TField& f, QString& text, bool display) {
        cdsGeralIDTPFERIASPGGetText(f, text, display);
    };
    vacationKind.OnSetText = [this](TField& f, const QString& text) {
        cdsGeralIDTPFERIASPGSetText(f, text);
    };
    medCdFilial->OnChange = [this] { medCdFilialChange(); };

    filterKeys(this, {{dbeVrPeEncTemp, &TfrmParametros::dbeVrPeEncTempKeyPress},
                      {dbeVrPeEncEfet, &TfrmParametros::dbeVrPeEncEfetKeyPress},
                      {dbeVrPeDescVT, &TfrmParametros::dbeVrPeDescVTKeyPress}});
    medCdFilial->OnKeyPress = [this](QWidget* s, int& key) { medCdFilialKeyPress(s, key); };

    OnExit(medCdFilial, [this] { medCdFilialExit(medCdFilial); });
    OnEnter(panFilial, [this] { panFilialEnter(panFilial); });
    OnExit(panFilial, [this] { panFilialExit(); });

    BtnFilial->DataSource = &dtsPesqFilial;
    BtnFilial->OnBeforePesq = [this](bool& flag) { BtnFilialBeforePesq(BtnFilial, flag); };
    BtnFilial->OnAfterPesq = [this] { BtnFilialAfterPesq(BtnFilial); };
}

void TfrmParametros::bindCestaBasicaRules() {
    drgTipoIndice->OnChange = [this] { drgTipoIndiceChange(); };
    filterKeys(this, {{dbeVrCestaBas, &TfrmParametros::dbeVrCestaBasKeyPress},
                      {dbdDtBaseCB, &TfrmParametros::dbdDtBaseCBKeyPress}});
    OnExit(dbeCdIndiceCb, [this] { dbeCdIndiceCbExit(dbeCdIndiceCb); });
    OnExit(dbeVrCestaBas, [this] { dbeVrCestaBasExit(dbeVrCestaBas); });
    OnExit(dbdDtBaseCB, [this] { dbdDtBaseCBExit(dbdDtBaseCB); });
    BtnIndice->DataSource = &dtsPesqIndice;
    BtnIndice->OnBeforePesq = [this](bool& flag) { BtnIndiceBeforePesq(BtnIndice, flag); };
    BtnIndice->OnAfterPesq = [this] { BtnIndiceAfterPesq(BtnIndice); };
}

void TfrmParametros::bindAgendaRules() {
    filterKeys(this, {{dbeVrPrazEfeFun, &TfrmParametros::dbeVrPrazEfeFunKeyPress}});
}

void TfrmParametros::bindFeriasRules() {
    dcbFerias->OnChange = [this] { dcbFeriasChange(); };
    filterKeys(this, {{dbeQtDias, &TfrmParametros::dbeQtDiasKeyPress}});
    dcbFerias->OnKeyPress = [this](QWidget* s, int& key) { dcbFeriasKeyPress(s, key); };
}

void TfrmParametros::bindAgeFilialRules() {
    filterKeys(this, {{dbeFechamento, &TfrmParametros::dbeFechamentoKeyPress},
                      {dbdUltiFecha, &TfrmParametros::dbdUltiFechaKeyPress}});
    OnExit(dbeFechamento, [this] { dbeFechamentoExit(dbeFechamento); });
    OnExit(dbdUltiFecha, [this] { dbdUltiFechaExit(dbdUltiFecha); });
}

void TfrmParametros::bindDiversosRules() {
    filterKeys(this, {{dbeMediConv, &TfrmParametros::dbeMediConvKeyPress}});
    OnExit(dbeMediConv, [this] { dbeMediConvExit(dbeMediConv); });
    OnExit(dbeDiretorio, [this] { dbeDiretorioExit(dbeDiretorio); });
    btnConvMedi->DataSource = &dtsVdConv;
    btnConvMedi->OnBeforePesq = [this](bool& flag) { btnConvMediBeforePesq(btnConvMedi, flag); };
    btnConvMedi->OnAfterPesq = [this] { btnConvMediAfterPesq(btnConvMedi); };
    btpDirFolhaPag->OnClick = [this] { btpDirFolhaPagClick(btpDirFolhaPag); };
}
