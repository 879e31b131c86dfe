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
    medCdFilial->OnChange = [this] { medCdFilialChange(); };

    using Filter = void (TfrmParametros::*)(QWidget*, int&);
    const QList<QPair<TDBEdit*, Filter>> edits{
        {dbeVrPeEncTemp, &TfrmParametros::dbeVrPeEncTempKeyPress},
        {dbeVrPeEncEfet, &TfrmParametros::dbeVrPeEncEfetKeyPress},
        {dbeVrPeDescVT, &TfrmParametros::dbeVrPeDescVTKeyPress}};
    for (const auto& [edit, filter] : edits)
        edit->OnKeyPress = [this, filter = filter](QWidget* s, int& key) {
            (this->*filter)(s, key);
        };
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
    using Filter = void (TfrmParametros::*)(QWidget*, int&);
    const QList<QPair<TDBEdit*, Filter>> filters{
        {dbeVrCestaBas, &TfrmParametros::dbeVrCestaBasKeyPress},
        {dbdDtBaseCB, &TfrmParametros::dbdDtBaseCBKeyPress}};
    for (const auto& [edit, filter] : filters)
        edit->OnKeyPress = [this, filter = filter](QWidget* s, int& key) {
            (this->*filter)(s, key);
        };
    OnExit(dbeCdIndiceCb, [this] { dbeCdIndiceCbExit(dbeCdIndiceCb); });
    OnExit(dbeVrCestaBas, [this] { dbeVrCestaBasExit(dbeVrCestaBas); });
    OnExit(dbdDtBaseCB, [this] { dbdDtBaseCBExit(dbdDtBaseCB); });
    BtnIndice->DataSource = &dtsPesqIndice;
    BtnIndice->OnBeforePesq = [this](bool& flag) { BtnIndiceBeforePesq(BtnIndice, flag); };
    BtnIndice->OnAfterPesq = [this] { BtnIndiceAfterPesq(BtnIndice); };
}

void TfrmParametros::bindAgendaRules() {
    dbeVrPrazEfeFun->OnKeyPress = [this](QWidget* s, int& key) { dbeVrPrazEfeFunKeyPress(s, key); };
}

void TfrmParametros::bindFeriasRules() {
    dcbFerias->OnChange = [this] { dcbFeriasChange(); };
    dbeQtDias->OnKeyPress = [this](QWidget* s, int& key) { dbeQtDiasKeyPress(s, key); };
    dcbFerias->OnKeyPress = [this](QWidget* s, int& key) { dcbFeriasKeyPress(s, key); };
}

void TfrmParametros::bindAgeFilialRules() {
    dbeFechamento->OnKeyPress = [this](QWidget* s, int& key) { dbeFechamentoKeyPress(s, key); };
    dbdUltiFecha->OnKeyPress = [this](QWidget* s, int& key) { dbdUltiFechaKeyPress(s, key); };
    OnExit(dbeFechamento, [this] { dbeFechamentoExit(dbeFechamento); });
    OnExit(dbdUltiFecha, [this] { dbdUltiFechaExit(dbdUltiFecha); });
}

void TfrmParametros::bindDiversosRules() {
    dbeMediConv->OnKeyPress = [this](QWidget* s, int& key) { dbeMediConvKeyPress(s, key); };
    OnExit(dbeMediConv, [this] { dbeMediConvExit(dbeMediConv); });
    OnExit(dbeDiretorio, [this] { dbeDiretorioExit(dbeDiretorio); });
    btnConvMedi->DataSource = &dtsVdConv;
    btnConvMedi->OnBeforePesq = [this](bool& flag) { btnConvMediBeforePesq(btnConvMedi, flag); };
    btnConvMedi->OnAfterPesq = [this] { btnConvMediAfterPesq(btnConvMedi); };
    btpDirFolhaPag->OnClick = [this] { btpDirFolhaPagClick(btpDirFolhaPag); };
}
