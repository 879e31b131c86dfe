#include "FormPadrao.h"

#include "CallWait.h"
#include "DBControls.h"
#include "Dispatch.h"
#include "DrawnIcons.h"
#include "Exceptions.h"
#include "FocusMoves.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QIconEngine>
#include <QKeyEvent>
#include <QPainter>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

TfrmPadrao::TfrmPadrao(QWidget* parent)
    : QWidget(parent)
    , msgMensagensPadroes(::msgMensagensPadroes()) {
    setObjectName(QStringLiteral("frmPadrao"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);

    panMenu = new QFrame(this);
    panMenu->setObjectName(QStringLiteral("panMenu"));
    panMenu->setFrameShape(QFrame::StyledPanel);
    auto* bar = new QHBoxLayout(panMenu);
    bar->setContentsMargins(2, 2, 2, 2);
    bar->setSpacing(1);
    sbtIncluir = addToolButton(QStringLiteral("sbtIncluir"), QStringLiteral("Incluir"),
                               QStringLiteral("document-new"));
    sbtExcluir = addToolButton(QStringLiteral("sbtExcluir"), QStringLiteral("Excluir"),
                               QStringLiteral("edit-delete"));
    sbtAlterar = addToolButton(QStringLiteral("sbtAlterar"), QStringLiteral("Alterar"),
                               QStringLiteral("document-edit"));
    sbtConfirmar = addToolButton(QStringLiteral("sbtConfirmar"), QStringLiteral("Confirmar"),
                                 QStringLiteral("dialog-ok"));
    sbtCancelar = addToolButton(QStringLiteral("sbtCancelar"), QStringLiteral("Cancelar"),
                                QStringLiteral("dialog-cancel"));
    sbtVerificar = addToolButton(QStringLiteral("sbtVerificar"), QStringLiteral("Verificar"),
                                 QStringLiteral("view-refresh"));
    sbtProcurar = addToolButton(QStringLiteral("sbtProcurar"), QStringLiteral("Procurar"),
                                QStringLiteral("edit-find"));
    sbtImprimir = addToolButton(QStringLiteral("sbtImprimir"), QStringLiteral("Imprimir"),
                                QStringLiteral("document-print"));
    for (QToolButton* b : {sbtIncluir, sbtExcluir, sbtAlterar, sbtConfirmar, sbtCancelar,
                           sbtVerificar, sbtProcurar, sbtImprimir})
        bar->addWidget(b);
    bar->addStretch();
    lblCodTela = new QLabel(panMenu);
    lblCodTela->setObjectName(QStringLiteral("lblCodTela"));
    bar->addWidget(lblCodTela);
    layout->addWidget(panMenu);

    barAvisos = new TNoticeBar(this, QStringLiteral("Verificar"));
    layout->addWidget(barAvisos);
    pgcPadrao = new TPageControl(this, QStringLiteral("pgcPadrao"));
    tshFolhaDados =
        pgcPadrao->AddPage(QStringLiteral("tshFolhaDados"), QStringLiteral("Folha de Dados"));
    tshFormulario =
        pgcPadrao->AddPage(QStringLiteral("tshFormulario"), QStringLiteral("Formulário"));
    auto named = [](QWidget* parent, const char* name) {
        auto* w = new QWidget(parent);
        w->setObjectName(QString::fromLatin1(name));
        return w;
    };
    panDbgPadrao = named(tshFolhaDados, "panDbgPadrao");
    scbFolhaDados = named(tshFolhaDados, "scbFolhaDados");
    dbgPadrao = named(panDbgPadrao, "dbgPadrao");
    panFormulario = named(tshFormulario, "panFormulario");
    scbFormulario = named(tshFormulario, "scbFormulario");
    layout->addWidget(pgcPadrao, 1);
    panNavigator = named(this, "panNavigator");
    dbnPadrao = named(panNavigator, "dbnPadrao");
    layout->addWidget(panNavigator);
    pgcPadrao->OnChange = [this] { pgcPadraoChange(); };

    mnuOperacao = new QMenu(QStringLiteral("&Operação"), this);
    mnuOperacao->setObjectName(QStringLiteral("mnuOperacao"));
    mnuFolhaDadosMenu =
        AddSubMenu(mnuOperacao, QStringLiteral("mnuFolhaDados"), QStringLiteral("Folha de Dados"));
    mnuFolhaDados = mnuFolhaDadosMenu->menuAction();
    mnuFormularioMenu =
        AddSubMenu(mnuOperacao, QStringLiteral("mnuFormulario"), QStringLiteral("Formulário"));
    mnuFormulario = mnuFormularioMenu->menuAction();
    mnuOperacao->addSeparator();
    mnuListagem =
        AddMenuItem(mnuOperacao, QStringLiteral("mnuListagem"), QStringLiteral("Listagem"));
    mnuConfigImpressora = AddMenuItem(mnuOperacao, QStringLiteral("mnuConfigImpressora"),
                                      QStringLiteral("Configurar Impressora"));
    connect(mnuFolhaDadosMenu, &QMenu::aboutToShow, this,
            [this] { Dispatch([this] { mnuFolhaDadosClick(); }); });
    connect(mnuFormularioMenu, &QMenu::aboutToShow, this,
            [this] { Dispatch([this] { mnuFormularioClick(); }); });

    mnuManutencao = new QMenu(QStringLiteral("&Manutenção"), this);
    mnuManutencao->setObjectName(QStringLiteral("mnuManutencao"));
    mnuIncluir =
        AddMenuItem(mnuManutencao, QStringLiteral("mnuIncluir"), QStringLiteral("Incluir"));
    mnuExcluir =
        AddMenuItem(mnuManutencao, QStringLiteral("mnuExcluir"), QStringLiteral("Excluir"));
    mnuProcurar =
        AddMenuItem(mnuManutencao, QStringLiteral("mnuProcurar"), QStringLiteral("Procurar"));
    mnuManutencao->addSeparator();
    mnuAlterar =
        AddMenuItem(mnuManutencao, QStringLiteral("mnuAlterar"), QStringLiteral("Alterar"));
    mnuConfirmar =
        AddMenuItem(mnuManutencao, QStringLiteral("mnuConfirmar"), QStringLiteral("Confirmar"));
    mnuCancelar =
        AddMenuItem(mnuManutencao, QStringLiteral("mnuCancelar"), QStringLiteral("Cancelar"));
    mnuVerificar =
        AddMenuItem(mnuManutencao, QStringLiteral("mnuVerificar"), QStringLiteral("Verificar"));

    // The tool-bar buttons run the commands; their menu items press the buttons.
    const QList<QPair<QToolButton*, std::function<void()>>> commands{
        {sbtAlterar, [this] { sbtAlterarClick(); }},
        {sbtConfirmar, [this] { sbtConfirmarClick(); }},
        {sbtCancelar, [this] { sbtCancelarClick(); }},
        {sbtVerificar, [this] { sbtVerificarClick(); }},
    };
    for (const auto& [button, handler] : commands)
        connect(button, &QToolButton::clicked, this, [handler] { Dispatch(handler); });
    const QList<QPair<QAction*, QToolButton*>> mirrors{
        {mnuAlterar, sbtAlterar},     {mnuConfirmar, sbtConfirmar}, {mnuCancelar, sbtCancelar},
        {mnuVerificar, sbtVerificar}, {mnuIncluir, sbtIncluir},     {mnuExcluir, sbtExcluir},
        {mnuProcurar, sbtProcurar},   {mnuListagem, sbtImprimir}};
    for (const auto& [action, button] : mirrors)
        connect(action, &QAction::triggered, button, [button = button] {
            if (button->isEnabled()) button->click();
        });
    // Keys of the commands, shown in their menu items and in the buttons' tips.
    const QList<QPair<QAction*, QKeySequence>> keys{{mnuAlterar, QKeySequence(Qt::Key_F2)},
                                                    {mnuConfirmar, QKeySequence(Qt::Key_F10)},
                                                    {mnuCancelar, QKeySequence(Qt::Key_F11)},
                                                    {mnuVerificar, QKeySequence(Qt::Key_F5)}};
    for (const auto& [action, key] : keys)
        action->setShortcut(key);
    for (const auto& [action, button] : mirrors)
        if (!action->shortcut().isEmpty())
            button->setToolTip(QStringLiteral("%1 (%2)").arg(
                button->text(), action->shortcut().toString(QKeySequence::NativeText)));
    dtsPadrao.OnStateChange = [this](TDataSource&) { dtsPadraoStateChange(); };

    connect(qApp, &QApplication::focusChanged, this,
            [this](QWidget* old, QWidget* now) { focusMoved(old, now); });
    qApp->installEventFilter(this);
}

TfrmPadrao::~TfrmPadrao() {
    // The controls go after this part of the form: their focus changes are no events of ours.
    disconnect(qApp, nullptr, this, nullptr);
    qApp->removeEventFilter(this);
}

namespace {

bool captionsShown = false;

// The picture as it is, and grey and faint when its button is disabled, so that the two states
// cannot be taken for each other; made at the size and scale asked for, when first asked.
class FaintWhenDisabled : public QIconEngine {
public:
    explicit FaintWhenDisabled(QIcon picture)
        : m_picture(std::move(picture)) {}

    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state,
                         qreal scale) override {
        if (mode != QIcon::Disabled) return m_picture.pixmap(size, scale, mode, state);
        const qint64 key = (qint64(size.width()) << 32) | (size.height() << 8) | int(scale * 4);
        if (const auto found = m_faint.constFind(key); found != m_faint.cend()) return *found;
        QImage faint = m_picture.pixmap(size, scale, QIcon::Normal, state)
                           .toImage()
                           .convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < faint.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(faint.scanLine(y));
            for (int x = 0; x < faint.width(); ++x) {
                const int grey = qGray(line[x]);
                line[x] = qRgba(grey, grey, grey, qAlpha(line[x]) * 35 / 100);
            }
        }
        return *m_faint.insert(key, QPixmap::fromImage(faint));
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return scaledPixmap(size, mode, state, 1.0);
    }
    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode,
               QIcon::State state) override {
        painter->drawPixmap(
            rect, scaledPixmap(rect.size(), mode, state, painter->device()->devicePixelRatio()));
    }
    QSize actualSize(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return m_picture.actualSize(size, mode, state);
    }
    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override {
        return m_picture.availableSizes(mode == QIcon::Disabled ? QIcon::Normal : mode, state);
    }
    QIconEngine* clone() const override { return new FaintWhenDisabled(m_picture); }
    QString key() const override { return QStringLiteral("rh-faint"); }

private:
    QIcon m_picture;
    QHash<qint64, QPixmap> m_faint;
};

} // namespace

QIcon ThemeIcon(const QString& name) {
    // Made once per theme and name: a QIcon copy shares its engine, so a form built again does
    // not draw its pictures again; a desktop that changes its theme gets new pictures.
    static QHash<QString, QIcon> made;
    const QString key = QIcon::themeName() + u'/' + name;
    if (const auto found = made.constFind(key); found != made.cend()) return *found;
    // The desktop's icon theme first; our own pictures where the theme has none.
    return *made.insert(key, QIcon(new FaintWhenDisabled(QIcon::fromTheme(name, DrawnIcon(name)))));
}

namespace {

Qt::ToolButtonStyle toolBarStyle() {
    return captionsShown ? Qt::ToolButtonTextUnderIcon : Qt::ToolButtonIconOnly;
}

} // namespace

void TfrmPadrao::ShowToolBarCaptions(bool shown) {
    captionsShown = shown;
    for (QWidget* w : QApplication::allWidgets())
        if (auto* form = qobject_cast<TfrmPadrao*>(w))
            for (auto* b : form->panMenu->findChildren<QToolButton*>())
                b->setToolButtonStyle(toolBarStyle());
}

bool TfrmPadrao::ToolBarCaptionsShown() {
    return captionsShown;
}

QToolButton* TfrmPadrao::addToolButton(const QString& name, const QString& caption,
                                       const QString& iconName) {
    auto* b = new QToolButton(panMenu);
    b->setObjectName(name);
    b->setText(caption);
    b->setToolTip(caption);
    b->setIcon(ThemeIcon(iconName));
    const int size = style()->pixelMetric(QStyle::PM_ToolBarIconSize, nullptr, b);
    b->setIconSize(QSize(size, size));
    b->setToolButtonStyle(toolBarStyle());
    b->setAutoRaise(true);
    b->setFocusPolicy(Qt::NoFocus);
    return b;
}

void TfrmPadrao::Create() {
    Dispatch([this] { FormCreate(); });
}

void TfrmPadrao::Activate(bool asked) {
    if (CallWaiting()) return; // the form is still busy with a call: no activation runs
    ++m_activations;
    Dispatch([this] { FormActivate(); }, asked ? FailureReport::Handle : FailureReport::Note);
}

void TfrmPadrao::Repaint() {
    // Qt queues the layout and the repaint of the widgets it has just shown; painting before
    // those are handled would leave them to lay out and paint the form again in the event loop.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateLater);
    repaint();
}

void TfrmPadrao::closeEvent(QCloseEvent* e) {
    if (m_longWork > 0) {
        e->ignore();
        if (hasHostServices())
            host().showStatus(
                QStringLiteral("Aguarde o fim do trabalho em andamento para fechar."));
        return;
    }
    CloseAction action = CloseAction::Free;
    if (!Dispatch([&] { FormClose(action); }) || action == CloseAction::None) {
        e->ignore();
        return;
    }
    e->accept();
    if (action == CloseAction::Free && !m_destroyed) {
        m_destroyed = true;
        Dispatch([this] { FormDestroy(); });
        if (QWidget* frame = parentWidget())
            frame->setAttribute(Qt::WA_DeleteOnClose);
        else
            setAttribute(Qt::WA_DeleteOnClose);
    }
}

void TfrmPadrao::CommitTypedText() {
    // Not only the focused control: the focus may be outside the form (a window becoming active,
    // a menu) when a command or a close asks.
    for (QWidget* w : findChildren<QWidget*>()) {
        auto* commit = dynamic_cast<ExitCommit*>(w);
        if (!commit || !commit->HasUnwrittenText()) continue;
        try {
            commit->writeBack();
        } catch (const EDatabaseError&) {
        }
    }
}

void TfrmPadrao::OnExit(QWidget* control, std::function<void()> handler) {
    m_onExit[control] = std::move(handler);
}
void TfrmPadrao::OnEnter(QWidget* control, std::function<void()> handler) {
    m_onEnter[control] = std::move(handler);
}

bool TfrmPadrao::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Show && watched == this) {
        // Qt hides the window to maximise or restore it, and hiding moves the focus on to the
        // next control as a Tab would; shown again, the user is where they were.
        QTimer::singleShot(0, this, [this] {
            QWidget* now = QApplication::focusWidget();
            QWidget* stay = m_current;
            if (!stay || !now || now == stay || !isAncestorOf(now) || !stay->isVisible() ||
                !stay->isEnabled())
                return;
            refocus(stay, Qt::OtherFocusReason);
            if (auto* left = dynamic_cast<ExitCommit*>(now)) left->afterExit();
        });
    }
    if (event->type() == QEvent::FocusIn) {
        // Qt tells why before it tells where the focus went (focusChanged).
        auto* w = qobject_cast<QWidget*>(watched);
        if (w && isAncestorOf(w)) {
            m_focusInWidget = w;
            m_focusInReason = static_cast<QFocusEvent*>(event)->reason();
        }
        return false;
    }
    if (event->type() != QEvent::KeyPress) return false;
    auto* w = qobject_cast<QWidget*>(watched);
    // Only the first delivery, to the focused control of this form.
    if (!w || w != QApplication::focusWidget() || !isAncestorOf(w)) return false;
    auto* ke = static_cast<QKeyEvent*>(event);
    int key = ke->key();
    Dispatch([&] { FormKeyDown(key, ke->modifiers()); });
    return key == 0;
}

void TfrmPadrao::FocusPlaced(QWidget* control, bool pagesChanged) {
    if (!isAncestorOf(control)) return;
    m_current = control;
    if (pagesChanged) PagesBroughtForward();
}

void TfrmPadrao::FocusSettled(QWidget* now) {
    focusMoved(m_current, now);
}

void TfrmPadrao::refocus(QWidget* control, Qt::FocusReason reason) {
    m_refocusing = true;
    if (control->isVisible())
        control->setFocus(reason);
    else
        focusIntoView(control);
    m_refocusing = false;
    m_current = control;
}

bool TfrmPadrao::focusReturned(QWidget* from, QWidget* to) {
    if (to != m_focusInWidget) return false;
    // Qt gives the focus back when the window becomes active again, and a child window gives
    // it back when it is restored or chosen again: only the user's own moves leave a control.
    const Qt::FocusReason why = m_focusInReason;
    const bool usersMove = why == Qt::MouseFocusReason || why == Qt::TabFocusReason ||
                           why == Qt::BacktabFocusReason || why == Qt::ShortcutFocusReason;
    const bool fromOutside = !from || !isAncestorOf(from);
    if (why != Qt::ActiveWindowFocusReason && (usersMove || !fromOutside)) return false;
    // The user is still where they were, or where a rule put them while a dialog was open.
    QWidget* stay = m_current;
    if (stay && stay->isEnabled() && stay->focusPolicy() != Qt::NoFocus && stay->isVisible())
        refocus(stay, why);
    else
        m_current = to;
    return true;
}

void TfrmPadrao::focusMoved(QWidget* from, QWidget* to) {
    // A move that is no exit (a window maximised or restored, a dialog, a quiet move) still
    // leaves the control it comes from showing its value as it reads, not as it is typed.
    const auto settle = [from] {
        if (auto* commit = dynamic_cast<ExitCommit*>(from);
            commit && from != QApplication::focusWidget())
            commit->afterExit();
    };
    // Focus that goes to a dialog or another window and comes back is no exit.
    if (m_refocusing || !to || !isAncestorOf(to) || to == m_current) return settle();
    if (focusMovesQuietly()) {
        m_current = to;
        return settle();
    }
    // Minimising or hiding the window moves the focus off its controls: the user left nothing.
    if (!isVisible() || pagesBeingSelected() || focusReturned(from, to)) return settle();
    QWidget* left = m_current;
    m_current = to;
    if (left && !runExitEvents(left, to)) return;
    // An exit handler that put the focus somewhere else decided where the move ends.
    if (m_current != to) return;
    if (!runEnterEvents(left, to) && left && left->isEnabled()) refocus(left, Qt::OtherFocusReason);
}

bool TfrmPadrao::runExitEvents(QWidget* from, QWidget* to) {
    auto refuse = [&] {
        // The focus stays where a handler put it, or goes back to the control being left.
        if (m_current == to) refocus(from, Qt::OtherFocusReason);
        return false;
    };
    if (auto* commit = dynamic_cast<ExitCommit*>(from))
        if (!Dispatch([commit] { commit->commitOnExit(); })) return refuse();
    for (QWidget* w = from; w && w != this; w = w->parentWidget()) {
        if (w == to || w->isAncestorOf(to)) break;
        auto it = m_onExit.constFind(w);
        if (it != m_onExit.constEnd() && !Dispatch(*it)) return refuse();
    }
    if (auto* commit = dynamic_cast<ExitCommit*>(from);
        commit && from != QApplication::focusWidget())
        commit->afterExit();
    return true;
}

bool TfrmPadrao::runEnterEvents(QWidget* from, QWidget* to) {
    QList<QWidget*> entered;
    for (QWidget* w = to; w && w != this; w = w->parentWidget()) {
        if (from && (w == from || w->isAncestorOf(from))) break;
        entered.prepend(w);
    }
    for (QWidget* w : entered) {
        auto it = m_onEnter.constFind(w);
        if (it != m_onEnter.constEnd() && !Dispatch(*it)) return false;
    }
    return true;
}
