#pragma once
// The general-parameters form.

#include "ADOIBQuery.h"
#include "BtnPesquisa.h"
#include "BuiltOnUse.h"
#include "DBControls.h"
#include "DBGrid.h"
#include "DBNotice.h"
#include "FormPadrao.h"
#include "ModuleState.h"
#include "NetConnection.h"
#include "Questionario.h"
#include "ServiceCalls.h"

class QGroupBox;

class TfrmParametros : public TfrmPadrao {
    Q_OBJECT
public:
    explicit TfrmParametros(QWidget* parent = nullptr);
    ~TfrmParametros() override;

    // Server connection and record sets.
    TNetConnection netParamZOL;
    TClientDataSet cdsGeral{QStringLiteral("cdsGeral")};
    TClientDataSet cdsFilial{QStringLiteral("cdsFilial")};
    // The "Questionário" sub-page, its record sets and its rules.
    TQuestionario questionario{
        *this, netParamZOL, {Cli_zol00900::boCargVazio, Cli_zol00900::boDepVazio}};
    TClientDataSet cdsVdConv{QStringLiteral("cdsVdConv")};
    TDataSource dtsFilial{QStringLiteral("dtsFilial")};
    TDataSource dtsVdConv{QStringLiteral("dtsVdConv")};
    TDataSource dtsPesqIndice{QStringLiteral("dtsPesqIndice")};
    TDataSource dtsPesqFilial{QStringLiteral("dtsPesqFilial")};
    // Lookups on the host's shared database.
    TADOIBQuery qryPesqIndice{QStringLiteral("qryPesqIndice")};
    TADOIBQuery qryVdIndice{QStringLiteral("qryVdIndice")};
    TADOIBQuery qryPesqFilial{QStringLiteral("qryPesqFilial")};

    // "Geral" page.
    TPageControl* pgcGeral;
    QWidget *tshEncargos, *tshCestaBasica, *tshAgenda, *tshFerias, *tshQuest;
    QGroupBox* grbGeral;
    TDBEdit *dbeVrPeEncTemp, *dbeVrPeEncEfet, *dbeVrPeDescVT;
    // Controls of the sub-pages built when first shown or first named.
    TBuiltOnUse<QGroupBox> grbCestaBasica, grbAgenda, grbTipo;
    TBuiltOnUse<TDBRadioGroup> drgTipoIndice;
    TBuiltOnUse<TDBEdit> dbeCdIndiceCb, dbeNmIndice, dbeVrCestaBas, dbeVrPrazEfeFun, dbeQtDias;
    TBuiltOnUse<TBtnPesquisa> BtnIndice;
    TBuiltOnUse<TDBDateEditPlus> dbdDtBaseCB;
    TBuiltOnUse<TDBComboBox> dcbFerias;

    // "Filial" page.
    QWidget* panFilial;
    TEdit *medCdFilial, *edtNmFilial;
    TBtnPesquisa* BtnFilial;
    TDBEmptyNotice* lblSemParametros; // a branch without its parameter record says so
    TPageControl* pgcFilial;
    QWidget *tshAgeFilial, *tshDiversos;
    TBuiltOnUse<QGroupBox> grbAgeFili, grbDiversos, grbDiretorio;
    TBuiltOnUse<TDBEdit> dbeFechamento, dbeMediConv, dbeNmConvenioMedico, dbeDiretorio;
    TBuiltOnUse<TDBDateEditPlus> dbdUltiFecha;
    TBuiltOnUse<TBtnPesquisa> btnConvMedi, btpDirFolhaPag;

    // Menus of the two pages.
    QAction *mnuEncargos, *mnuCestaBasica, *mnuAgenda, *mnuFerias, *mnuQuestionario;
    QAction *mnuAgeFilial, *mnuDIversos;

    // Lifecycle.
    void FormCreate() override;
    void FormActivate() override;
    bool ActivationPending() const override;
    // The first load of the branch and general records, or what of it failed before.
    void loadFirstRecords();
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
    void PagesBroughtForward() override;
    void FormKeyDown(int& key, Qt::KeyboardModifiers shift) override;
    bool focusNextPrevChild(bool next) override;

    // Edit, Confirm, Cancel and Verify, and their enabling rules.
    void sbtAlterarClick() override;
    void sbtConfirmarClick() override;
    void sbtCancelarClick() override;
    void sbtVerificarClick() override;
    void cdsGeralAfterEdit();
    void cdsFilialAfterEdit();
    void dtsPadraoStateChange() override;
    void dtsFilialStateChange();
    // A key that may only read: the screen says so and offers nothing that writes.
    void showReadOnly();
    void setCommandStates(bool editOffered, bool verifyOffered, bool editing, QWidget* otherPage,
                          QAction* otherPageItem);

    // Posting and cancelling the two records.
    void cdsGeralBeforePost();
    void cdsGeralAfterPost();
    void cdsFilialBeforePost();
    void cdsFilialAfterPost();
    void cdsGeralBeforeCancel();
    void cdsFilialBeforeCancel();

    // Rules that tie general fields together.
    void drgTipoIndiceChange();
    void dcbFeriasChange();
    void cdsGeralIDTPFERIASPGGetText(TField& sender, QString& text, bool displayText);
    void cdsGeralIDTPFERIASPGSetText(TField& sender, const QString& text);

    // Key filters of the general and branch fields.
    void dbeVrPeEncTempKeyPress(QWidget* sender, int& key);
    void dbeVrPeEncEfetKeyPress(QWidget* sender, int& key);
    void dbeVrPeDescVTKeyPress(QWidget* sender, int& key);
    void dbeVrCestaBasKeyPress(QWidget* sender, int& key);
    void dbeVrPrazEfeFunKeyPress(QWidget* sender, int& key);
    void dbeQtDiasKeyPress(QWidget* sender, int& key);
    void dbdDtBaseCBKeyPress(QWidget* sender, int& key);
    void dcbFeriasKeyPress(QWidget* sender, int& key);
    void medCdFilialKeyPress(QWidget* sender, int& key);
    void dbeFechamentoKeyPress(QWidget* sender, int& key);
    void dbeMediConvKeyPress(QWidget* sender, int& key);
    void dbdUltiFechaKeyPress(QWidget* sender, int& key);

    // Index lookup.
    void BtnIndiceBeforePesq(QWidget* sender, bool& flag);
    void BtnIndiceAfterPesq(QWidget* sender);

    // Checks of the general record.
    void ValorNegat();
    void dbeCdIndiceCbExit(QWidget* sender);
    void dbeVrCestaBasExit(QWidget* sender);
    void dbdDtBaseCBExit(QWidget* sender);

    // Checks of the branch record.
    void dbeMediConvExit(QWidget* sender);
    void dbdUltiFechaExit(QWidget* sender);
    void dbeFechamentoExit(QWidget* sender);
    void Vd_Diretorio();

    // Branch selection.
    void medCdFilialChange();
    void medCdFilialExit(QWidget* sender);
    void BtnFilialBeforePesq(QWidget* sender, bool& flag);
    void BtnFilialAfterPesq(QWidget* sender);
    void panFilialEnter(QWidget* sender);
    void panFilialExit();

    // Changes stored by others, told in the bar above the pages.
    void subscribeToChanges();
    void netParamZOLNotice(const QString& method, const QByteArray& paramsJson);
    void barAvisosVerificarClick();

    // Medical plan lookup and payroll directory.
    void btnConvMediBeforePesq(QWidget* sender, bool& flag);
    void btnConvMediAfterPesq(QWidget* sender);
    void dbeDiretorioExit(QWidget* sender);
    void btpDirFolhaPagClick(QWidget* sender);

private:
    // The branch the "Filial" page shows: the one chosen there, or the session's.
    QString shownBranch() const;
    // Puts the record's change in the bar, saying when what the user edits will be compared.
    void tellChange(const QString& record);
    // After a confirm, reads the record again when the bar told of a change by someone else.
    void readAgainIfToldChanged(const QString& record, TClientDataSet& records);
    QString m_subscribed;              // the records the service tells this screen about
    quint64 m_subscribedOn = 0;        // on the connection of this generation
    QHash<QString, QString> m_changes; // each record's last change, as the bar tells it

    void createPages();
    void createGeralPage();
    void createCestaBasicaPage();
    void createAgendaPage();
    void createFeriasPage();
    void createFilialPage();
    void createAgeFilialPage();
    void createDiversosPage();
    // The page is built by `build` when first shown, or when code names one of its controls.
    template <class... Controls>
    void buildOnFirstShow(TPageControl* pages, QWidget* page, void (TfrmParametros::*build)(),
                          Controls*... controls) {
        pages->BuildOnFirstShow(page, [this, build] { (this->*build)(); });
        (controls->SetBuilder([pages, page] { pages->EnsureBuilt(page); }), ...);
    }
    // What every sub-page built late gets, as the form's first controls got it at creation.
    void subPageBuilt(QWidget* page);
    void createMenus();
    void bindFields();
    void bindCestaBasicaFields();
    void bindAgendaFields();
    void bindFeriasFields();
    void bindAgeFilialFields();
    void bindDiversosFields();
    void bindEvents();
    void bindEditingRules();
    void bindFieldRules();
    void bindCestaBasicaRules();
    void bindAgendaRules();
    void bindFeriasRules();
    void bindAgeFilialRules();
    void bindDiversosRules();
    // Selects a main page and a sub-page, then runs both change handlers, as a menu item does.
    void showSubPage(QWidget* mainPage, TPageControl* pages, QWidget* subPage);
    void checkGeralMenus();
    void checkMenusOfVisiblePage();
    void checkFilialMenus();
    // The branch record's unposted changes may be dropped: asked first when there are any.
    bool mayDropBranchChanges();
    // Changes typed or refused in these records may be dropped: asked first when there are any.
    bool mayDropChangesOf(const QList<TClientDataSet*>& records);
    // The branch load of leaving the panel: the code in the panel, read from the service.
    void loadChosenBranch();
    // Reads the branch's parameter record into cdsFilial.
    void readBranch(const QString& code);
    QString m_branchRead; // the branch whose record cdsFilial holds
    // The panel shows the code and name of the branch record held.
    void showBranchOfRecord();
    // Opens qryPesqFilial on the branch of that code; false when there is none.
    bool openBranchQuery(const QString& code);
    // The branch's name in the branch table; empty when there is no such branch.
    QString branchName(const QString& code);
    // Enables the four record sub-pages of "Geral", each with its menu item.
    void enableGeralSubPages();
    // Tells in the status bar why a command that ends quietly did not do its work.
    void noteAbsorbedFailure(const QString& what, const std::exception& e);
    // Enables or disables a page, then gives its menu item the page's state.
    void setPageAndItem(QWidget* page, QAction* item, bool enabled);
    // Sends the record set's pending changes with the write method; merges them once accepted.
    void sendPendingChanges(TClientDataSet& records, const QString& method);
    // The index kind as the index table stores it: "1" percentage, "2" value, "0" none chosen.
    QString indexKindDigit() const;
};
