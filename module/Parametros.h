#pragma once
// The general-parameters form.

#include "BtnPesquisa.h"
#include "DBControls.h"
#include "DBGrid.h"
#include "DBNotice.h"
#include "FormPadrao.h"
#include "NetConnection.h"
#include "ServiceCalls.h"

#include <QLabel>
#include <QSplitter>

class QGroupBox;
class QScrollArea;

class TfrmParametros : public TfrmPadrao {
    Q_OBJECT
public:
    explicit TfrmParametros(QWidget* parent = nullptr);
    ~TfrmParametros() override;

    // Server connection and record sets.
    TNetConnection netParamZOL;
    TClientDataSet cdsGeral{QStringLiteral("cdsGeral")};
    TClientDataSet cdsFilial{QStringLiteral("cdsFilial")};
    TClientDataSet cdsInspecao{QStringLiteral("cdsInspecao")};
    TClientDataSet cdsCargo{QStringLiteral("cdsCargo")};
    TClientDataSet cdsDepto{QStringLiteral("cdsDepto")};
    TClientDataSet cdsVdConv{QStringLiteral("cdsVdConv")};
    TDataSource dtsFilial{QStringLiteral("dtsFilial")};
    TDataSource dtsInspecao{QStringLiteral("dtsInspecao")};
    TDataSource dtsCargo{QStringLiteral("dtsCargo")};
    TDataSource dtsDepto{QStringLiteral("dtsDepto")};
    TDataSource dtsVdConv{QStringLiteral("dtsVdConv")};
    TDataSource dtsPesqIndice{QStringLiteral("dtsPesqIndice")};
    TDataSource dtsPesqFilial{QStringLiteral("dtsPesqFilial")};

    // Pictures that paint the tick cells.
    QLabel *imgCheck, *imgUncheck, *imgDesCheck;

    // "Geral" page.
    TPageControl* pgcGeral;
    QWidget *tshEncargos, *tshCestaBasica, *tshAgenda, *tshFerias, *tshQuest;
    QGroupBox *grbGeral, *grbCestaBasica, *grbAgenda, *grbTipo;
    TDBEdit *dbeVrPeEncTemp, *dbeVrPeEncEfet, *dbeVrPeDescVT;
    TDBRadioGroup* drgTipoIndice;
    TDBEdit *dbeCdIndiceCb, *dbeNmIndice, *dbeVrCestaBas, *dbeVrPrazEfeFun, *dbeQtDias;
    TBtnPesquisa* BtnIndice;
    TDBDateEditPlus* dbdDtBaseCB;
    TDBComboBox* dcbFerias;
    QWidget *panQuest, *panQuesCand, *pan, *panSeparador, *panDepCarg;
    QScrollArea* scbQuest;
    QSplitter* splPar;
    TDBGrid *dbgQuestCand, *dbgCargo, *dbgDepto;

    // "Filial" page.
    QWidget* panFilial;
    TEdit *medCdFilial, *edtNmFilial;
    TBtnPesquisa* BtnFilial;
    TDBEmptyNotice* lblSemParametros; // a branch without its parameter record says so
    TPageControl* pgcFilial;
    QWidget *tshAgeFilial, *tshDiversos;
    QGroupBox *grbAgeFili, *grbDiversos, *grbDiretorio;
    TDBEdit *dbeFechamento, *dbeMediConv, *dbeNmConvenioMedico, *dbeDiretorio;
    TDBDateEditPlus* dbdUltiFecha;
    TBtnPesquisa *btnConvMedi, *btpDirFolhaPag;

    // Menus of the two pages.
    QAction *mnuEncargos, *mnuCestaBasica, *mnuAgenda, *mnuFerias, *mnuQuestionario;
    QAction *mnuAgeFilial, *mnuDIversos;

    // Lifecycle.
    void FormCreate() override;
    void FormActivate() override;
    bool ActivationPending() const override;
    void FormClose(CloseAction& action) override;
    void FormDestroy() override;
    void netParamZOLBeforeConnect(TNetConnection& sender);

    // Navigation.
    void pgcPadraoChange() override;
    void pgcGeralChange();
    void pgcFilialChange();
    void mnuEncargosClick();
    void mnuCestaBasicaClick();
    void mnuAgendaClick();
    void mnuFeriasClick();
    void mnuQuestionarioClick();
    void mnuAgeFilialClick();
    void mnuDIversosClick();
    void mnuFolhaDadosClick() override {}
    void mnuFormularioClick() override {}
    void FormKeyDown(int& key, Qt::KeyboardModifiers shift) override;

    // Enabling rules of the commands.
    void dtsPadraoStateChange() override;
    void dtsFilialStateChange();
    void setCommandStates(bool editOffered, bool verifyOffered, bool editing, QWidget* otherPage,
                          QAction* otherPageItem);

    // Questionnaire lists.
    void cdsInspecaoAfterScroll();

    // Branch selection.
    void medCdFilialChange();

private:
    void createPages();
    void createGeralPage();
    void createQuestionarioPage();
    void createFilialPage();
    void createMenus();
    void bindFields();
    void bindEvents();
    // Selects a main page and a sub-page, then runs both change handlers, as a menu item does.
    void showSubPage(QWidget* mainPage, TPageControl* pages, QWidget* subPage);
    void checkGeralMenus();
    void checkFilialMenus();
    QString questionnaireLevelArgument() const;
};
