// The form's page tree, top to bottom, as the user sees it.

#include "Parametros.h"

#include "contract/Layouts.h"

#include "Accessibility.h"
#include "Colours.h"
#include "Icons.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QScrollArea>
#include <QVBoxLayout>

namespace {

QLabel* boldLabel(QWidget* parent, const QString& name, const QString& text) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(name);
    QFont f = l->font();
    f.setBold(true);
    l->setFont(f);
    return l;
}

QWidget* namedWidget(QWidget* parent, const QString& name) {
    auto* w = new QWidget(parent);
    w->setObjectName(name);
    return w;
}

// Every sub-page holds a panel, a scroll box and a group box.
QGroupBox* subPageGroup(QWidget* page, const QString& stem, const QString& groupName,
                        const QString& caption = {}) {
    auto* pageLayout = new QVBoxLayout(page);
    pageLayout->setContentsMargins(0, 0, 0, 0);
    QWidget* panel = namedWidget(page, QStringLiteral("pan") + stem);
    pageLayout->addWidget(panel);
    auto* panelLayout = new QVBoxLayout(panel);
    panelLayout->setContentsMargins(2, 2, 2, 2);
    auto* scroll = new QScrollArea(panel);
    scroll->setObjectName(QStringLiteral("scb") + stem);
    scroll->setFocusPolicy(Qt::NoFocus); // a Tab stop here would show no focus at all
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    panelLayout->addWidget(scroll);
    auto* inner = namedWidget(nullptr, QStringLiteral("scb") + stem + QStringLiteral("Conteudo"));
    scroll->setWidget(inner);
    auto* innerLayout = new QVBoxLayout(inner);
    auto* group = new QGroupBox(caption, inner);
    group->setObjectName(groupName);
    innerLayout->addWidget(group);
    innerLayout->addStretch();
    return group;
}

} // namespace

void TfrmParametros::createPages() {
    dbgPadrao->hide();
    panDbgPadrao->hide();
    scbFolhaDados->hide();
    panFormulario->hide();
    scbFormulario->hide();
    panNavigator->hide();
    dbnPadrao->hide();
    pgcPadrao->setTabText(0, QStringLiteral("Geral"));
    pgcPadrao->setTabText(1, QStringLiteral("Filial"));
    createGeralPage();
    createFilialPage();
}

void TfrmParametros::createGeralPage() {
    auto* layout = new QVBoxLayout(tshFolhaDados);
    layout->setContentsMargins(0, 0, 0, 0);
    pgcGeral = new TPageControl(tshFolhaDados, QStringLiteral("pgcGeral"));
    layout->addWidget(pgcGeral);
    tshEncargos = pgcGeral->AddPage(QStringLiteral("tshEncargos"), QStringLiteral("Encargos"));
    tshCestaBasica =
        pgcGeral->AddPage(QStringLiteral("tshCestaBasica"), QStringLiteral("Cesta Básica"));
    tshAgenda = pgcGeral->AddPage(QStringLiteral("tshAgenda"), QStringLiteral("Agenda"));
    tshFerias = pgcGeral->AddPage(QStringLiteral("tshFerias"), QStringLiteral("Férias"));
    tshQuest = pgcGeral->AddPage(QStringLiteral("tshQuest"), QStringLiteral("Questionário"));

    // Encargos
    grbGeral = subPageGroup(tshEncargos, QStringLiteral("Encargos"), QStringLiteral("grbGeral"));
    auto* encargos = new QFormLayout(grbGeral);
    dbeVrPeEncTemp = new TDBEdit(grbGeral, QStringLiteral("dbeVrPeEncTemp"));
    dbeVrPeEncEfet = new TDBEdit(grbGeral, QStringLiteral("dbeVrPeEncEfet"));
    dbeVrPeDescVT = new TDBEdit(grbGeral, QStringLiteral("dbeVrPeDescVT"));
    encargos->addRow(boldLabel(grbGeral, QStringLiteral("lblVrPeEncTemp"),
                               contract::geral().caption(QStringLiteral("VRPEENCTEMP"))),
                     dbeVrPeEncTemp);
    encargos->addRow(boldLabel(grbGeral, QStringLiteral("lblVrPeEncEfet"),
                               contract::geral().caption(QStringLiteral("VRPEENCEFET"))),
                     dbeVrPeEncEfet);
    encargos->addRow(boldLabel(grbGeral, QStringLiteral("lblVrPeDescVT"),
                               contract::geral().caption(QStringLiteral("VRPEDESCVT"))),
                     dbeVrPeDescVT);
    for (TDBEdit* e : {dbeVrPeEncTemp, dbeVrPeEncEfet, dbeVrPeDescVT})
        e->setMaxLength(5);

    // The other sub-pages are built when first shown, or when a rule names one of their controls.
    buildOnFirstShow(pgcGeral, tshCestaBasica, &TfrmParametros::createCestaBasicaPage,
                     &grbCestaBasica, &drgTipoIndice, &dbeCdIndiceCb, &BtnIndice, &dbeNmIndice,
                     &dbdDtBaseCB, &dbeVrCestaBas);
    buildOnFirstShow(pgcGeral, tshAgenda, &TfrmParametros::createAgendaPage, &grbAgenda,
                     &dbeVrPrazEfeFun);
    buildOnFirstShow(pgcGeral, tshFerias, &TfrmParametros::createFeriasPage, &grbTipo, &dcbFerias,
                     &dbeQtDias);
    questionario.createQuestionarioPage(pgcGeral, tshQuest);
}

void TfrmParametros::createCestaBasicaPage() {
    grbCestaBasica = subPageGroup(tshCestaBasica, QStringLiteral("CestaBasica"),
                                  QStringLiteral("grbCestaBasica"));
    auto* cesta = new QFormLayout(grbCestaBasica);
    drgTipoIndice = new TDBRadioGroup(grbCestaBasica, QStringLiteral("drgTipoIndice"),
                                      contract::geral().caption(QStringLiteral("IDTPINDCB")),
                                      {QStringLiteral("Percentual"), QStringLiteral("Valor")},
                                      {QStringLiteral("P"), QStringLiteral("V")}, 2);
    cesta->addRow(drgTipoIndice);
    auto* indiceRow = new QHBoxLayout;
    dbeCdIndiceCb = new TDBEdit(grbCestaBasica, QStringLiteral("dbeCdIndiceCb"));
    dbeCdIndiceCb->setFixedWidth(60);
    BtnIndice = new TBtnPesquisa(grbCestaBasica, QStringLiteral("BtnIndice"));
    BtnIndice->Associate = dbeCdIndiceCb;
    BtnIndice->EmptyError = QStringLiteral("Não há índice financeiro cadastrado.");
    BtnIndice->Caption = QStringLiteral("Pesquisa de índices financeiros");
    dbeNmIndice = new TDBEdit(grbCestaBasica, QStringLiteral("dbeNmIndice"));
    dbeNmIndice->setEnabled(false);
    indiceRow->addWidget(dbeCdIndiceCb);
    indiceRow->addWidget(BtnIndice);
    indiceRow->addWidget(dbeNmIndice, 1);
    cesta->addRow(boldLabel(grbCestaBasica, QStringLiteral("lblCdIndiceCb"),
                            contract::geral().caption(QStringLiteral("CDINDICECB"))),
                  indiceRow);
    dbdDtBaseCB = new TDBDateEditPlus(grbCestaBasica, QStringLiteral("dbdDtBaseCB"));
    dbdDtBaseCB->setFixedWidth(120);
    cesta->addRow(boldLabel(grbCestaBasica, QStringLiteral("lblDtBaseCB"),
                            contract::geral().caption(QStringLiteral("DTBASECB"))),
                  dbdDtBaseCB);
    dbeVrCestaBas = new TDBEdit(grbCestaBasica, QStringLiteral("dbeVrCestaBas"));
    dbeVrCestaBas->setMaxLength(9);
    cesta->addRow(boldLabel(grbCestaBasica, QStringLiteral("lblVrCestaBas"),
                            contract::geral().caption(QStringLiteral("VRCESTABAS"))),
                  dbeVrCestaBas);
    setTabOrder(dbeCdIndiceCb, dbdDtBaseCB);
    setTabOrder(dbdDtBaseCB, dbeVrCestaBas);
    // Bound before its rules are: showing the record runs no change rule.
    bindCestaBasicaFields();
    bindCestaBasicaRules();
    subPageBuilt(tshCestaBasica);
}

void TfrmParametros::createAgendaPage() {
    grbAgenda = subPageGroup(tshAgenda, QStringLiteral("Agenda"), QStringLiteral("grbAgenda"));
    auto* agenda = new QFormLayout(grbAgenda);
    dbeVrPrazEfeFun = new TDBEdit(grbAgenda, QStringLiteral("dbeVrPrazEfeFun"));
    dbeVrPrazEfeFun->setMaxLength(3);
    agenda->addRow(boldLabel(grbAgenda, QStringLiteral("lblVrPrazEfeFun"),
                             contract::geral().caption(QStringLiteral("VRPRAZEFEFUN"))),
                   dbeVrPrazEfeFun);
    bindAgendaFields();
    bindAgendaRules();
    subPageBuilt(tshAgenda);
}

void TfrmParametros::createFeriasPage() {
    grbTipo = subPageGroup(tshFerias, QStringLiteral("Ferias"), QStringLiteral("grbTipo"));
    auto* ferias = new QFormLayout(grbTipo);
    dcbFerias = new TDBComboBox(grbTipo, QStringLiteral("dcbFerias"),
                                {QStringLiteral("Dias Úteis"), QStringLiteral("Dias Corridos")});
    dbeQtDias = new TDBEdit(grbTipo, QStringLiteral("dbeQtDias"));
    dbeQtDias->setMaxLength(5);
    // Top to bottom in the order Tab takes them.
    ferias->addRow(boldLabel(grbTipo, QStringLiteral("lblQtDias"),
                             contract::geral().caption(QStringLiteral("QTDIASFERIPG"))),
                   dbeQtDias);
    ferias->addRow(boldLabel(grbTipo, QStringLiteral("lblFerias"),
                             contract::geral().caption(QStringLiteral("IDTPFERIASPG"))),
                   dcbFerias);
    setTabOrder(dbeQtDias, dcbFerias);
    bindFeriasFields();
    bindFeriasRules();
    subPageBuilt(tshFerias);
}

void TfrmParametros::subPageBuilt(QWidget* page) {
    NameControlsForScreenReaders(page);
    showReadOnly(); // a key that may only read locks these controls too
}

void TfrmParametros::createFilialPage() {
    auto* layout = new QVBoxLayout(tshFormulario);
    layout->setContentsMargins(0, 0, 0, 0);
    panFilial = namedWidget(tshFormulario, QStringLiteral("panFilial"));
    auto* filialRow = new QHBoxLayout(panFilial);
    QLabel* lblFilial = boldLabel(panFilial, QStringLiteral("lblFilial"), QStringLiteral("Filial"));
    filialRow->addWidget(lblFilial);
    medCdFilial = new TEdit(panFilial, QStringLiteral("medCdFilial"));
    medCdFilial->setMaxLength(4);
    medCdFilial->setFixedWidth(60);
    medCdFilial->setFocusPolicy(Qt::ClickFocus); // skipped by the Tab key
    UseInfoColours(medCdFilial);
    BtnFilial = new TBtnPesquisa(panFilial, QStringLiteral("BtnFilial"));
    BtnFilial->Associate = medCdFilial;
    BtnFilial->EmptyError = QStringLiteral("Não há filial cadastrada.");
    BtnFilial->Caption = QStringLiteral("Pesquisa de filiais");
    lblFilial->setBuddy(medCdFilial);
    edtNmFilial = new TEdit(panFilial, QStringLiteral("edtNmFilial"));
    edtNmFilial->setText(QStringLiteral("edtNmFilial"));
    edtNmFilial->setEnabled(false);
    filialRow->addWidget(medCdFilial);
    filialRow->addWidget(BtnFilial);
    filialRow->addWidget(edtNmFilial, 1);
    layout->addWidget(panFilial);
    lblSemParametros = new TDBEmptyNotice(
        tshFormulario, QStringLiteral("lblSemParametros"),
        QStringLiteral("Esta filial ainda não tem parâmetros: use Alterar para criá-los."));
    lblSemParametros->SetDataSource(&dtsFilial);
    layout->addWidget(lblSemParametros);

    pgcFilial = new TPageControl(tshFormulario, QStringLiteral("pgcFilial"));
    layout->addWidget(pgcFilial, 1);
    tshAgeFilial = pgcFilial->AddPage(QStringLiteral("tshAgeFilial"), QStringLiteral("Agenda"));
    tshDiversos = pgcFilial->AddPage(QStringLiteral("tshDiversos"), QStringLiteral("Diversos"));
    buildOnFirstShow(pgcFilial, tshAgeFilial, &TfrmParametros::createAgeFilialPage, &grbAgeFili,
                     &dbeFechamento, &dbdUltiFecha);
    buildOnFirstShow(pgcFilial, tshDiversos, &TfrmParametros::createDiversosPage, &grbDiversos,
                     &dbeMediConv, &btnConvMedi, &dbeNmConvenioMedico, &grbDiretorio, &dbeDiretorio,
                     &btpDirFolhaPag);
}

void TfrmParametros::createAgeFilialPage() {
    grbAgeFili =
        subPageGroup(tshAgeFilial, QStringLiteral("AgeFilial"), QStringLiteral("grbAgeFili"));
    auto* agenda = new QFormLayout(grbAgeFili);
    dbeFechamento = new TDBEdit(grbAgeFili, QStringLiteral("dbeFechamento"));
    dbeFechamento->setFixedWidth(40);
    UseInfoColours(dbeFechamento);
    dbdUltiFecha = new TDBDateEditPlus(grbAgeFili, QStringLiteral("dbdUltiFecha"));
    dbdUltiFecha->setFixedWidth(120);
    agenda->addRow(boldLabel(grbAgeFili, QStringLiteral("lblFechamento"),
                             contract::filial().caption(QStringLiteral("DIFECHRH"))),
                   dbeFechamento);
    agenda->addRow(boldLabel(grbAgeFili, QStringLiteral("lblUltiFecha"),
                             contract::filial().caption(QStringLiteral("DTULTFECHRH"))),
                   dbdUltiFecha);
    bindAgeFilialFields();
    bindAgeFilialRules();
    subPageBuilt(tshAgeFilial);
}

void TfrmParametros::createDiversosPage() {
    grbDiversos =
        subPageGroup(tshDiversos, QStringLiteral("Diversos"), QStringLiteral("grbDiversos"));
    auto* diversos = new QVBoxLayout(grbDiversos);
    auto* planRow = new QHBoxLayout;
    QLabel* lblMediConv = boldLabel(grbDiversos, QStringLiteral("lblMediConv"),
                                    contract::filial().caption(QStringLiteral("CDCONMEDDEF")));
    planRow->addWidget(lblMediConv);
    dbeMediConv = new TDBEdit(grbDiversos, QStringLiteral("dbeMediConv"));
    lblMediConv->setBuddy(dbeMediConv);
    dbeMediConv->setFixedWidth(40);
    btnConvMedi = new TBtnPesquisa(grbDiversos, QStringLiteral("btnConvMedi"));
    btnConvMedi->Associate = dbeMediConv;
    btnConvMedi->EmptyError = QStringLiteral("Não há convênio médico cadastrado.");
    btnConvMedi->Caption = QStringLiteral("Pesquisa de convênios médicos");
    dbeNmConvenioMedico = new TDBEdit(grbDiversos, QStringLiteral("dbeNmConvenioMedico"));
    dbeNmConvenioMedico->setEnabled(false);
    planRow->addWidget(dbeMediConv);
    planRow->addWidget(btnConvMedi);
    planRow->addWidget(dbeNmConvenioMedico, 1);
    grbDiretorio =
        new QGroupBox(contract::filial().caption(QStringLiteral("NMDIRPONTO")), grbDiversos);
    grbDiretorio->setObjectName(QStringLiteral("grbDiretorio"));
    QFont bold = grbDiretorio->font();
    bold.setBold(true);
    grbDiretorio->setFont(bold);
    auto* dirRow = new QHBoxLayout(grbDiretorio);
    dbeDiretorio = new TDBEdit(grbDiretorio, QStringLiteral("dbeDiretorio"));
    btpDirFolhaPag = new TBtnPesquisa(grbDiretorio, QStringLiteral("btpDirFolhaPag"));
    // It opens a folder chooser, not a lookup: it says so.
    btpDirFolhaPag->setIcon(StyleIcon(QStyle::SP_DirOpenIcon));
    btpDirFolhaPag->setToolTip(QStringLiteral("Escolher pasta"));
    // Only the caption is bold: what is typed in the group keeps the form's font.
    QFont plain = font();
    plain.setBold(false);
    dbeDiretorio->setFont(plain);
    btpDirFolhaPag->setFont(plain);
    dirRow->addWidget(dbeDiretorio, 1);
    dirRow->addWidget(btpDirFolhaPag);
    // Top to bottom in the order Tab takes them.
    diversos->addWidget(grbDiretorio);
    diversos->addLayout(planRow);
    setTabOrder(dbeDiretorio, dbeMediConv);
    bindDiversosFields();
    bindDiversosRules();
    subPageBuilt(tshDiversos);
}
