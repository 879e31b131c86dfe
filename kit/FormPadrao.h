#pragma once
// The standard base form every screen derives from: tool bar, main page control, menus, message
// tables, focus exit/enter events and key preview.

#include "DataSource.h"
#include "Messages.h"
#include "NoticeBar.h"
#include "PageControl.h"

#include <QFrame>
#include <QHash>
#include <QLabel>
#include <QPointer>
#include <QStyle>
#include <QToolButton>

// The icon of a freedesktop theme name (document-edit, dialog-ok…), with the kit's own picture
// when the desktop's theme has none; grey and faint when disabled.
QIcon ThemeIcon(const QString& name);

enum class CloseAction { None, Hide, Free, Minimize };

class TfrmPadrao : public QWidget {
    Q_OBJECT
public:
    explicit TfrmPadrao(QWidget* parent = nullptr);
    ~TfrmPadrao() override;

    // Runs FormCreate; the host's form-creation service calls it once the object is built.
    void Create();
    // The host calls these when its child window is activated and when it is closed. An
    // activation the user did not ask for (coming back to the window) tells a failure in the
    // status bar only: the user saw it when they asked.
    void Activate(bool asked = true);
    // Paints the form now, with everything Qt still has queued for it, so that the event loop
    // does not paint it a second time.
    void Repaint();
    // How many activations have run; an activation that did not happen leaves it unchanged.
    int ActivationCount() const { return m_activations; }
    // Whether the form still waits for an activation to finish its set-up (a failed first
    // load): the host then treats the window becoming active again as an activation.
    virtual bool ActivationPending() const { return false; }
    // The menus the host shows in its menu bar while this form is the active child.
    QList<QMenu*> FormMenus() const { return {mnuOperacao, mnuManutencao}; }
    // Captions under the tool-bar icons, in every form open and every form opened after.
    static void ShowToolBarCaptions(bool shown);
    static bool ToolBarCaptionsShown();

    // Exit and enter events of a control or container, innermost first on exit.
    void OnExit(QWidget* control, std::function<void()> handler);
    void OnEnter(QWidget* control, std::function<void()> handler);
    // The control that last had the focus inside this form.
    QWidget* ActiveControl() const { return m_current; }
    // A rule put the focus on the control, bringing its pages forward when pagesChanged.
    void FocusPlaced(QWidget* control, bool pagesChanged);
    // Pages were selected and the focus landed on `now`: one move from the control left.
    void FocusSettled(QWidget* now);
    // Writes what every bound control shows and its field does not hold yet (typed, or put
    // there by a pick) into the field, as leaving it would, wherever the focus is. A text the
    // field cannot take stays in the control, for its own check or the post to report.
    void CommitTypedText();

    // Work that keeps the event loop turning (a long walk that shows its progress): the form
    // refuses to close until it ends, as the work still uses it.
    class LongWork {
    public:
        explicit LongWork(TfrmPadrao& form)
            : m_form(form) {
            ++m_form.m_longWork;
        }
        ~LongWork() { --m_form.m_longWork; }
        LongWork(const LongWork&) = delete;
        LongWork& operator=(const LongWork&) = delete;

    private:
        TfrmPadrao& m_form;
    };

    // Base-form components the screens use.
    QFrame* panMenu;
    QLabel* lblCodTela;
    QToolButton *sbtIncluir, *sbtExcluir, *sbtAlterar, *sbtConfirmar, *sbtCancelar, *sbtVerificar,
        *sbtProcurar, *sbtImprimir;
    TPageControl* pgcPadrao;
    // Above the pages: what the form tells without stopping the user. Hidden while empty.
    TNoticeBar* barAvisos;
    QWidget *tshFolhaDados, *tshFormulario;
    QWidget *panDbgPadrao, *scbFolhaDados, *dbgPadrao, *panFormulario, *scbFormulario;
    QWidget *panNavigator, *dbnPadrao;
    QMenu *mnuOperacao, *mnuManutencao, *mnuFolhaDadosMenu, *mnuFormularioMenu;
    QAction *mnuFolhaDados, *mnuFormulario, *mnuListagem, *mnuConfigImpressora;
    QAction *mnuIncluir, *mnuExcluir, *mnuProcurar, *mnuAlterar, *mnuConfirmar, *mnuCancelar,
        *mnuVerificar;
    TDataSource dtsPadrao{QStringLiteral("dtsPadrao")};
    TMessages msgPadrao;
    const TMessages& msgMensagensPadroes;

protected:
    virtual void FormCreate() {}
    virtual void FormActivate() {}
    virtual void FormClose(CloseAction& action) { action = CloseAction::Free; }
    virtual void FormDestroy() {}
    // Sees every key pressed in the form before the focused control; key = 0 swallows it.
    virtual void FormKeyDown(int& /*key*/, Qt::KeyboardModifiers /*shift*/) {}
    virtual void pgcPadraoChange() {}
    virtual void sbtAlterarClick() {}
    virtual void sbtConfirmarClick() {}
    virtual void sbtCancelarClick() {}
    virtual void sbtVerificarClick() {}
    virtual void dtsPadraoStateChange() {}
    virtual void mnuFolhaDadosClick() {}
    virtual void mnuFormularioClick() {}
    // A rule brought pages forward from code; the form brings what mirrors them in step.
    virtual void PagesBroughtForward() {}

    void closeEvent(QCloseEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

    // A flat tool-bar button that never takes the focus.
    QToolButton* addToolButton(const QString& name, const QString& caption,
                               const QString& iconName);

private:
    void focusMoved(QWidget* from, QWidget* to);
    // The focus comes back to the form (its window active again, its child window restored or
    // chosen again) on a control of Qt's choosing: no move of the user's.
    bool focusReturned(QWidget* from, QWidget* to);
    void refocus(QWidget* control, Qt::FocusReason reason);
    bool runExitEvents(QWidget* from, QWidget* to);
    // False when a handler refused the entry: the focus then goes back where it came from.
    bool runEnterEvents(QWidget* from, QWidget* to);

    QHash<QWidget*, std::function<void()>> m_onExit, m_onEnter;
    QPointer<QWidget> m_current;
    QPointer<QWidget> m_focusInWidget; // the last control told of a focus-in, and why
    Qt::FocusReason m_focusInReason = Qt::OtherFocusReason;
    bool m_refocusing = false;
    bool m_destroyed = false;
    int m_activations = 0;
    int m_longWork = 0;
};
