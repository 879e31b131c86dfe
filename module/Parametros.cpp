// The form object: its components, bindings and life from creation to release.

#include "Parametros.h"
#include "contract/Methods.h"

#include "Dispatch.h"

#include "DataSets.h"
#include "FormMessages.h"
#include "LookupQueries.h"
#include "ModuleState.h"

namespace {
// Each edit shows and writes its field of the source's record.
void bindEdits(TDataSource& source, std::initializer_list<std::pair<TDBEdit*, const char*>> edits) {
    for (const auto& [edit, field] : edits) {
        edit->SetDataField(QString::fromLatin1(field));
        edit->SetDataSource(&source);
    }
}

// The date edits show a valid date in blue, keep no time and name the weekday.
void showsDates(TDBDateEditPlus* edit) {
    edit->ValidDateColor = Qt::blue;
    edit->SaveTime = false;
    edit->NomeSemana = {QStringLiteral("Domingo"), QStringLiteral("Segunda"),
                        QStringLiteral("Terça"),   QStringLiteral("Quarta"),
                        QStringLiteral("Quinta"),  QStringLiteral("Sexta"),
                        QStringLiteral("Sábado")};
}
} // namespace

TfrmParametros::TfrmParametros(QWidget* parent)
    : TfrmPadrao(parent) {
    setObjectName(QStringLiteral("frmParametros"));
    setWindowTitle(QStringLiteral("Parâmetros Gerais"));
    resize(461, 324);
    move(415, 218);
    lblCodTela->setText(QStringLiteral("ZOL00900"));
    msgPadrao.Lines = msgPadraoLines();
    // Parameter records are neither added, deleted, searched nor printed here.
    for (QToolButton* b : {sbtImprimir, sbtIncluir, sbtExcluir, sbtProcurar})
        b->setEnabled(false);

    netParamZOL.ServerName = QString(contract::ServerObjectName);
    netParamZOL.ThrowException = false;
    netParamZOL.BeforeConnect = [this](TNetConnection& c) { netParamZOLBeforeConnect(c); };
    connect(&netParamZOL.Notices, &TServerNotices::Notice, this,
            &TfrmParametros::netParamZOLNotice);
    // A new connection's session has subscribed to nothing: subscribed again, as after an
    // activation, once the screen has subscribed at all.
    connect(&netParamZOL.Notices, &TServerNotices::Reconnected, this, [this] {
        if (!m_subscribed.isEmpty())
            Dispatch([this] { subscribeToChanges(); }, FailureReport::Note);
    });
    connect(barAvisos, &TNoticeBar::ActionClicked, this,
            [this] { Dispatch([this] { barAvisosVerificarClick(); }); });

    data::defineGeral(cdsGeral);
    data::defineFilial(cdsFilial);
    data::defineVdConv(cdsVdConv);
    dtsPadrao.SetDataSet(&cdsGeral);
    dtsFilial.SetDataSet(&cdsFilial);
    dtsVdConv.SetDataSet(&cdsVdConv);
    data::defineQryPesqIndice(qryPesqIndice);
    data::defineQryVdIndice(qryVdIndice);
    data::defineQryPesqFilial(qryPesqFilial);
    dtsPesqIndice.SetDataSet(&qryPesqIndice.Query);
    dtsPesqFilial.SetDataSet(&qryPesqFilial.Query);

    createPages();
    createMenus();
    bindFields();
    bindEvents();
}

TfrmParametros::~TfrmParametros() {
    if (Cli_zol00900::frmParametros == this) Cli_zol00900::frmParametros = nullptr;
}

void TfrmParametros::createMenus() {
    mnuFolhaDados->setText(QStringLiteral("Geral"));
    mnuFormulario->setText(QStringLiteral("Filial"));
    mnuEncargos = AddMenuItem(mnuFolhaDadosMenu, QStringLiteral("mnuEncargos"),
                              QStringLiteral("Encargo"), true);
    mnuCestaBasica = AddMenuItem(mnuFolhaDadosMenu, QStringLiteral("mnuCestaBasica"),
                                 QStringLiteral("Cesta Básica"), true);
    mnuAgenda =
        AddMenuItem(mnuFolhaDadosMenu, QStringLiteral("mnuAgenda"), QStringLiteral("Agenda"), true);
    mnuFerias =
        AddMenuItem(mnuFolhaDadosMenu, QStringLiteral("mnuFerias"), QStringLiteral("Férias"), true);
    mnuQuestionario = AddMenuItem(mnuFolhaDadosMenu, QStringLiteral("mnuQuestionario"),
                                  QStringLiteral("Questionário"), true);
    mnuAgeFilial = AddMenuItem(mnuFormularioMenu, QStringLiteral("mnuAgeFilial"),
                               QStringLiteral("Agenda"), true);
    mnuDIversos = AddMenuItem(mnuFormularioMenu, QStringLiteral("mnuDIversos"),
                              QStringLiteral("Diversos"), true);
    mnuEncargos->setChecked(true);
    mnuAgeFilial->setChecked(true);
    for (QAction* a : {mnuListagem, mnuConfigImpressora, mnuIncluir, mnuExcluir, mnuProcurar})
        a->setEnabled(false);
    // Nothing is loaded yet: nothing to edit, confirm, cancel or verify until a state change
    // runs the enabling rules, on the tool bar as in the menu.
    for (QToolButton* b : {sbtAlterar, sbtConfirmar, sbtCancelar, sbtVerificar})
        b->setEnabled(false);
    mnuAlterar->setEnabled(sbtAlterar->isEnabled());
    mnuConfirmar->setEnabled(sbtConfirmar->isEnabled());
    mnuCancelar->setEnabled(sbtCancelar->isEnabled());
    mnuVerificar->setEnabled(sbtVerificar->isEnabled());
}

void TfrmParametros::bindFields() {
    bindEdits(dtsPadrao, {{dbeVrPeEncTemp, "VRPEENCTEMP"},
                          {dbeVrPeEncEfet, "VRPEENCEFET"},
                          {dbeVrPeDescVT, "VRPEDESCVT"}});
}

void TfrmParametros::bindCestaBasicaFields() {
    bindEdits(dtsPadrao, {{dbeCdIndiceCb, "CDINDICECB"},
                          {dbeNmIndice, "NMINDICE"},
                          {dbdDtBaseCB, "DTBASECB"},
                          {dbeVrCestaBas, "VRCESTABAS"}});
    drgTipoIndice->SetDataField(QStringLiteral("IDTPINDCB"));
    drgTipoIndice->SetDataSource(&dtsPadrao);
    showsDates(dbdDtBaseCB);
}

void TfrmParametros::bindAgeFilialFields() {
    bindEdits(dtsFilial, {{dbeFechamento, "DIFECHRH"}, {dbdUltiFecha, "DTULTFECHRH"}});
    showsDates(dbdUltiFecha);
}

void TfrmParametros::bindDiversosFields() {
    bindEdits(dtsFilial, {{dbeDiretorio, "NMDIRPONTO"},
                          {dbeMediConv, "CDCONMEDDEF"},
                          {dbeNmConvenioMedico, "NMCONVMEDI"}});
}

void TfrmParametros::bindAgendaFields() {
    bindEdits(dtsPadrao, {{dbeVrPrazEfeFun, "VRPRAZEFEFUN"}});
}

void TfrmParametros::bindFeriasFields() {
    bindEdits(dtsPadrao, {{dbeQtDias, "QTDIASFERIPG"}});
    dcbFerias->SetDataField(QStringLiteral("IDTPFERIASPG"));
    dcbFerias->SetDataSource(&dtsPadrao);
}

void TfrmParametros::bindEvents() {
    pgcGeral->OnChange = [this] { pgcGeralChange(); };
    pgcFilial->OnChange = [this] { pgcFilialChange(); };
    const QList<QPair<QAction*, void (TfrmParametros::*)()>> items{
        {mnuEncargos, &TfrmParametros::mnuEncargosClick},
        {mnuCestaBasica, &TfrmParametros::mnuCestaBasicaClick},
        {mnuAgenda, &TfrmParametros::mnuAgendaClick},
        {mnuFerias, &TfrmParametros::mnuFeriasClick},
        {mnuQuestionario, &TfrmParametros::mnuQuestionarioClick},
        {mnuAgeFilial, &TfrmParametros::mnuAgeFilialClick},
        {mnuDIversos, &TfrmParametros::mnuDIversosClick}};
    for (const auto& [action, handler] : items) {
        // A checkable item toggles itself on a click; the handlers set the marks from the pages.
        connect(action, &QAction::triggered, this,
                [this, handler = handler] { Dispatch([&] { (this->*handler)(); }); });
    }
    dtsFilial.OnStateChange = [this](TDataSource&) { dtsFilialStateChange(); };
    bindEditingRules();
    bindFieldRules();
}
