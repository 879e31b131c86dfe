// The questionnaire page: its record sets, its controls top to bottom, their columns and the
// events that tie them to the rules.

#include "Questionario.h"

#include "DataSets.h"

#include "Accessibility.h"
#include "Colours.h"

#include <QHeaderView>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QVBoxLayout>

namespace {

QWidget* namedWidget(QWidget* parent, const QString& name) {
    auto* w = new QWidget(parent);
    w->setObjectName(name);
    return w;
}

} // namespace

TQuestionario::TQuestionario(TfrmPadrao& form, TNetConnection& connection, LeftEmpty leftEmpty)
    : m_form(form)
    , m_connection(connection)
    , m_leftEmpty(leftEmpty) {
    setObjectName(QStringLiteral("questionario"));
    data::defineInspecao(cdsInspecao);
    data::defineCargo(cdsCargo);
    data::defineDepto(cdsDepto);
    dtsInspecao.SetDataSet(&cdsInspecao);
    dtsCargo.SetDataSet(&cdsCargo);
    dtsDepto.SetDataSet(&cdsDepto);
}

void TQuestionario::createQuestionarioPage(TPageControl* pages, QWidget* page) {
    m_pages = pages;
    m_page = page;
    pages->BuildOnFirstShow(page, [this] { buildPage(); });
}

void TQuestionario::ensurePage() {
    m_pages->EnsureBuilt(m_page);
}

void TQuestionario::showReadOnly(const QString& why) {
    m_readOnlyTip = why;
    if (dbgQuestCand)
        for (TDBGrid* g : {dbgQuestCand, dbgCargo, dbgDepto})
            g->setToolTip(why);
}

void TQuestionario::buildPage() {
    QWidget* page = m_page;
    createTickPictures();
    auto* pageLayout = new QVBoxLayout(page);
    pageLayout->setContentsMargins(0, 0, 0, 0);
    auto* quest = new QFrame(page);
    quest->setObjectName(QStringLiteral("panQuest"));
    quest->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    quest->setLineWidth(2);
    panQuest = quest;
    pageLayout->addWidget(panQuest);
    auto* questLayout = new QVBoxLayout(panQuest);
    questLayout->setContentsMargins(2, 2, 2, 2);
    scbQuest = new QScrollArea(panQuest);
    scbQuest->setObjectName(QStringLiteral("scbQuest"));
    scbQuest->setFocusPolicy(Qt::NoFocus);
    scbQuest->setFrameShape(QFrame::NoFrame);
    scbQuest->setWidgetResizable(true);
    questLayout->addWidget(scbQuest);

    splPar = new TSplitter(Qt::Vertical, QStringLiteral("splPar"));
    splPar->setChildrenCollapsible(false);
    scbQuest->setWidget(splPar);

    panQuesCand = namedWidget(splPar, QStringLiteral("panQuesCand"));
    auto* candLayout = new QVBoxLayout(panQuesCand);
    candLayout->setContentsMargins(1, 1, 1, 1);
    dbgQuestCand = new TDBGrid(panQuesCand, QStringLiteral("dbgQuestCand"));
    dbgQuestCand->setFrameShape(QFrame::NoFrame);
    candLayout->addWidget(dbgQuestCand);

    pan = namedWidget(splPar, QStringLiteral("pan"));
    auto* panLayout = new QVBoxLayout(pan);
    panLayout->setContentsMargins(0, 0, 0, 0);
    panLayout->setSpacing(0);
    auto* separator = new QFrame(pan);
    separator->setObjectName(QStringLiteral("panSeparador"));
    separator->setFrameStyle(QFrame::Panel | QFrame::Raised);
    separator->setFixedHeight(8);
    panSeparador = separator;
    panLayout->addWidget(panSeparador);
    panDepCarg = namedWidget(pan, QStringLiteral("panDepCarg"));
    panLayout->addWidget(panDepCarg, 1);
    auto* listLayout = new QVBoxLayout(panDepCarg);
    listLayout->setContentsMargins(0, 0, 0, 0);
    dbgCargo = new TDBGrid(panDepCarg, QStringLiteral("dbgCargo"));
    dbgDepto = new TDBGrid(panDepCarg, QStringLiteral("dbgDepto"));
    for (TDBGrid* g : {dbgCargo, dbgDepto}) {
        g->setFrameShape(QFrame::NoFrame);
        g->InPlaceEditing = false;
        g->AlwaysShowSelection = false;
        listLayout->addWidget(g);
        g->hide();
    }
    splPar->setSizes({81, 200});
    splPar->OnResize = [this] { shareRoom(); };
    // Once the user has set the share, a taller window gives its room to the lists.
    splPar->setStretchFactor(0, 0);
    splPar->setStretchFactor(1, 1);

    for (TDBGrid* g : {dbgQuestCand, dbgCargo, dbgDepto})
        UseInfoColours(g);
    dbgQuestCand->setAccessibleName(QStringLiteral("Questionários"));
    dbgCargo->setAccessibleName(QStringLiteral("Cargos"));
    dbgDepto->setAccessibleName(QStringLiteral("Departamentos"));

    m_positions.attach(dbgCargo);
    m_departments.attach(dbgDepto);
    bindColumns();
    bindQuestionnaireEvents();
    if (!m_readOnlyTip.isEmpty()) showReadOnly(m_readOnlyTip);
    NameControlsForScreenReaders(page);
}

void TQuestionario::bindColumns() {
    dbgQuestCand->SetColumns({{QStringLiteral("CDINSPECAO"), QStringLiteral("Código"), 66, true},
                              {QStringLiteral("NMINSPECAO"), QStringLiteral("Nome"), 183, true},
                              {QStringLiteral("IDCARG"), QStringLiteral("Q. Cargo"), 47, false},
                              {QStringLiteral("IDDEPT"), QStringLiteral("Q. Depto."), -1, false},
                              {QStringLiteral("IDPADR"), QStringLiteral("Q. Padrão"), 54, false}});
    dbgQuestCand->SetDataSource(&dtsInspecao);
    dbgQuestCand->SetStretchColumn(QStringLiteral("NMINSPECAO"));
    TColumn tick{QStringLiteral("IDCHECK"), QStringLiteral("✔"), 16, false};
    tick.TitleColor = m_form.palette().color(QPalette::Button);
    dbgCargo->SetColumns({tick, {QStringLiteral("NMCARGO"), QStringLiteral("Cargo"), -1, true}});
    dbgCargo->SetDataSource(&dtsCargo);
    dbgDepto->SetColumns(
        {tick, {QStringLiteral("NMDEPTO"), QStringLiteral("Departamento"), -1, true}});
    dbgDepto->SetDataSource(&dtsDepto);
    for (TDBGrid* g : {dbgCargo, dbgDepto})
        g->horizontalHeader()->setStretchLastSection(true);
}

void TQuestionario::bindQuestionnaireEvents() {
    cdsInspecao.AfterScroll = [this](TClientDataSet&) { cdsInspecaoAfterScroll(); };
    cdsInspecao.BeforeScroll = [this](TClientDataSet&) { cdsInspecaoBeforeScroll(); };
    cdsInspecao.BeforeInsert = [this](TClientDataSet&) { cdsInspecaoBeforeInsert(); };
    cdsCargo.BeforeInsert = [this](TClientDataSet&) { cdsCargoBeforeInsert(); };
    cdsDepto.BeforeInsert = [this](TClientDataSet&) { cdsDeptoBeforeInsert(); };
    m_form.OnExit(panDepCarg, [this] { panDepCargExit(); });

    dbgQuestCand->OnCellClick = [this](TColumn& c) { dbgQuestCandCellClick(c); };
    dbgQuestCand->OnKeyDown = [this](int& key, Qt::KeyboardModifiers shift) {
        dbgQuestCandKeyDown(key, shift);
    };
    dbgQuestCand->OnColEnter = [this] { dbgQuestCandColEnter(); };
    m_form.OnEnter(dbgQuestCand, [this] { dbgQuestCandEnter(); });
    dbgQuestCand->OnDrawColumnCell = [this](QPainter* canvas, const QRect& rect, int col,
                                            TColumn& column, const QStyleOptionViewItem& state) {
        dbgQuestCandDrawColumnCell(canvas, rect, col, column, state);
    };

    dbgCargo->OnCellClick = [this](TColumn& c) { dbgCargoCellClick(c); };
    dbgCargo->OnKeyDown = [this](int& key, Qt::KeyboardModifiers shift) {
        dbgCargoKeyDown(key, shift);
    };
    dbgCargo->OnTitleClick = [this](TColumn& c) { dbgCargoTitleClick(c); };
    dbgCargo->OnColEnter = [this] { dbgCargoColEnter(); };
    m_form.OnEnter(dbgCargo, [this] { dbgCargoEnter(); });
    m_form.OnExit(dbgCargo, [this] { dbgCargoExit(); });
    dbgCargo->OnDrawColumnCell = [this](QPainter* canvas, const QRect& rect, int col,
                                        TColumn& column, const QStyleOptionViewItem& state) {
        dbgCargoDrawColumnCell(canvas, rect, col, column, state);
    };

    dbgDepto->OnCellClick = [this](TColumn& c) { dbgDeptoCellClick(c); };
    dbgDepto->OnKeyDown = [this](int& key, Qt::KeyboardModifiers shift) {
        dbgDeptoKeyDown(key, shift);
    };
    dbgDepto->OnTitleClick = [this](TColumn& c) { dbgDeptoTitleClick(c); };
    dbgDepto->OnColEnter = [this] { dbgDeptoColEnter(); };
    m_form.OnEnter(dbgDepto, [this] { dbgDeptoEnter(); });
    m_form.OnExit(dbgDepto, [this] { dbgDeptoExit(); });
    dbgDepto->OnDrawColumnCell = [this](QPainter* canvas, const QRect& rect, int col,
                                        TColumn& column, const QStyleOptionViewItem& state) {
        dbgDeptoDrawColumnCell(canvas, rect, col, column, state);
    };
}

int TQuestionario::questionnairesWidth() const {
    const int name = IndiceCol(dbgQuestCand, QStringLiteral("NMINSPECAO"));
    const QFontMetrics metrics = dbgQuestCand->fontMetrics();
    int widest = metrics.averageCharWidth() * 30;
    for (int r = 0; r < dbgQuestCand->model()->rowCount(); ++r)
        widest = std::max(widest, metrics.horizontalAdvance(
                                      dbgQuestCand->model()->index(r, name).data().toString()));
    // The cell's text margins, grid lines, frames, the row header and a vertical scroll bar.
    const int margins =
        2 * (dbgQuestCand->style()->pixelMetric(QStyle::PM_FocusFrameHMargin) + 1) + 8;
    int width =
        std::min(widest, metrics.averageCharWidth() * 80) + margins +
        int(dbgQuestCand->Columns.size()) + 2 * dbgQuestCand->frameWidth() + 2 +
        (dbgQuestCand->verticalHeader()->isVisible() ? dbgQuestCand->verticalHeader()->width()
                                                     : 0) +
        dbgQuestCand->verticalScrollBar()->sizeHint().width();
    for (int c = 0; c < dbgQuestCand->Columns.size(); ++c)
        if (c != name) width += dbgQuestCand->columnWidth(c);
    return width;
}

void TQuestionario::shareRoom() {
    // Room for the questionnaires and a list side by side, each as wide as its texts: the list
    // goes beside them and both take the whole height; otherwise the list goes below.
    const int questionnaires = questionnairesWidth();
    const bool beside = splPar->width() * 2 >= 5 * questionnaires;
    splPar->SetOrientation(beside ? Qt::Horizontal : Qt::Vertical);
    if (splPar->MovedByUser()) return;
    if (beside) {
        const int total = splPar->width() - splPar->handleWidth();
        const int left = std::max(questionnaires, total / 2);
        splPar->setSizes({left, total - left});
        return;
    }
    const int total = splPar->height() - splPar->handleWidth();
    const int row = dbgQuestCand->verticalHeader()->defaultSectionSize();
    // Header, frames, margins and a horizontal scroll bar, should one be needed.
    const int chrome = dbgQuestCand->horizontalHeader()->sizeHint().height() + 8 +
                       dbgQuestCand->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    const int separator = panSeparador->sizeHint().height();
    const int lists = chrome + separator + 5 * row;
    int top = std::max(chrome + 8 * row, total * 2 / 5);
    top = std::max(std::min(top, total - lists), chrome + 3 * row);
    splPar->setSizes({top, std::max(0, total - top)});
}
