#include "DesktopServices.h"

#include "BusyAnimation.h"
#include "ClientDataSet.h"
#include "Exceptions.h"
#include "FolderDialog.h"
#include "FormPadrao.h"
#include "PickList.h"
#include "WindowHints.h"
#include "WindowPlaces.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QStatusBar>
#include <utility>

namespace {
// The hourglass belongs to our busy windows, never to a dialog that waits for the user.
class DialogPointer {
public:
    DialogPointer()
        : m_pushed(QApplication::overrideCursor() != nullptr) {
        if (m_pushed) QApplication::setOverrideCursor(Qt::ArrowCursor);
    }
    ~DialogPointer() {
        if (m_pushed) QApplication::restoreOverrideCursor();
    }
    DialogPointer(const DialogPointer&) = delete;
    DialogPointer& operator=(const DialogPointer&) = delete;
    static Qt::CursorShape current() {
        const QCursor* c = QApplication::overrideCursor();
        return c ? c->shape() : Qt::ArrowCursor;
    }

private:
    bool m_pushed;
};
} // namespace

namespace {
// A message waits for an answer: nothing to minimise or maximise.
void showBox(QMessageBox& box) {
    GiveDialogHints(&box);
    box.exec();
}
} // namespace

void DesktopServices::showError(const QString& text) {
    const DialogPointer pointer;
    if (unattended) {
        shownErrors << text;
        pointersAtErrors << DialogPointer::current();
        return;
    }
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Erro"), text, QMessageBox::Ok,
                    mainForm());
    showBox(box);
}

void DesktopServices::showInformation(const QString& title, const QString& text) {
    if (unattended) {
        shownInformation << text;
        return;
    }
    const DialogPointer pointer;
    QMessageBox box(QMessageBox::Information, title, text, QMessageBox::Ok, mainForm());
    box.setIconPixmap(QApplication::windowIcon().pixmap(64));
    showBox(box);
}

ModalResult DesktopServices::ask(const QString& text, MsgDlgType kind,
                                 const QList<ModalResult>& buttons) {
    const DialogPointer pointer;
    if (unattended) {
        questions << text;
        return answers.isEmpty() ? ModalResult::Ok : answers.takeFirst();
    }
    QMessageBox box(kind == MsgDlgType::Confirmation ? QMessageBox::Question : QMessageBox::Warning,
                    QStringLiteral("Confirmação"), text, QMessageBox::NoButton, mainForm());
    QHash<QAbstractButton*, ModalResult> results;
    for (ModalResult r : buttons) {
        const QString caption = r == ModalResult::Ok    ? QStringLiteral("OK")
                                : r == ModalResult::Yes ? QStringLiteral("Sim")
                                : r == ModalResult::No  ? QStringLiteral("Não")
                                                        : QStringLiteral("Cancelar");
        const auto role = r == ModalResult::Ok || r == ModalResult::Yes ? QMessageBox::AcceptRole
                                                                        : QMessageBox::RejectRole;
        results.insert(box.addButton(caption, role), r);
    }
    showBox(box);
    return results.value(box.clickedButton(), ModalResult::Cancel);
}

bool DesktopServices::confirmDiscard(const QString& text) {
    const DialogPointer pointer;
    if (unattended) {
        questions << text;
        return answers.isEmpty() || answers.takeFirst() == ModalResult::Ok;
    }
    QMessageBox box(QMessageBox::Question, QStringLiteral("Confirmação"), text,
                    QMessageBox::NoButton, mainForm());
    QPushButton* discard =
        box.addButton(QStringLiteral("&Descartar alterações"), QMessageBox::DestructiveRole);
    QPushButton* keep =
        box.addButton(QStringLiteral("Continuar &editando"), QMessageBox::RejectRole);
    box.setDefaultButton(keep);
    box.setEscapeButton(keep);
    showBox(box);
    return box.clickedButton() == discard;
}

bool DesktopServices::pickRow(TClientDataSet& rows, const QStringList& visibleFields,
                              const QString& title) {
    const DialogPointer pointer;
    if (unattended) {
        pickTitles << title;
        const int row = pickAnswer ? pickAnswer(rows) : -1;
        if (row < 0) return false;
        rows.MoveTo(row);
        return true;
    }
    TPickList list(rows, visibleFields, title, mainForm());
    if (list.exec() != QDialog::Accepted || list.PickedRecord() < 0) return false;
    rows.MoveTo(list.PickedRecord());
    return true;
}

QString DesktopServices::selectDirectory(const QString& start) {
    const DialogPointer pointer;
    if (unattended) {
        directoryStarts << start;
        return directoryAnswer;
    }
    return chooseFolder(mainForm(), QStringLiteral("Selecionar diretório"), start);
}

QString DesktopServices::selectSaveFile(const QString& title, const QString& suggested) {
    const DialogPointer pointer;
    if (unattended) {
        saveFileSuggestions << suggested;
        return saveFileAnswer;
    }
    QFileDialog dialog(mainForm(), title,
                       QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation))
                           .filePath(suggested),
                       QStringLiteral("Planilha CSV (*.csv)"));
    // Qt's own dialog, translated with the rest of the desktop, as the folder dialog is.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("csv"));
    return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles().value(0) : QString();
}

void DesktopServices::busyStart() {
    if (m_busyDepth++ == 0) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        if (busyIndicator) {
            busyIndicator->Start();
            busyIndicator->repaint();
        }
    }
}

void DesktopServices::busyStop() {
    if (m_busyDepth == 0) return; // a stop without a start does no harm
    if (--m_busyDepth == 0) {
        QApplication::restoreOverrideCursor();
        if (busyIndicator) busyIndicator->Stop();
    }
}

void DesktopServices::setWaitCursor(bool on) {
    if (on) {
        ++m_waitDepth;
        QApplication::setOverrideCursor(Qt::WaitCursor);
    } else if (m_waitDepth > 0) {
        --m_waitDepth;
        QApplication::restoreOverrideCursor();
    }
}

void DesktopServices::handleException(const std::exception& e) {
    if (dynamic_cast<const EAbort*>(&e)) return;
    const auto* known = dynamic_cast<const Exception*>(&e);
    showError(known ? known->message() : QString::fromUtf8(e.what()));
}

void DesktopServices::showStatus(const QString& text) {
    statusNotes << text;
    if (window) window->statusBar()->showMessage(text, 15000);
}

QWidget* DesktopServices::mainForm() {
    return window;
}

void DesktopServices::showChildForm(QWidget* form) {
    if (!mdiArea) throw std::logic_error("no MDI area");
    auto* frame = qobject_cast<QMdiSubWindow*>(form->parentWidget());
    if (!frame) {
        frame = mdiArea->addSubWindow(form);
        frame->setObjectName(form->objectName() + QStringLiteral("Janela"));
        frame->setWindowTitle(form->windowTitle());
        if (window) frame->setWindowIcon(window->windowIcon());
        // Filling the workspace, or where the user left it: the rules restore this normal size
        // each time the screen is asked for.
        WindowPlaces(settingsPath, mdiArea).place(frame, WindowPlaces::kindOf(frame));
    }
    // Qt activates a child window halfway through showing it, before the frame itself is shown;
    // the form's repaint on activation would be followed by a second one of the whole window.
    // The activation runs once the window is shown, still before its state is restored.
    ++m_showingDepth;
    try {
        frame->show();
        mdiArea->setActiveSubWindow(frame);
    } catch (...) {
        --m_showingDepth;
        m_pendingActivations.clear();
        throw;
    }
    if (--m_showingDepth == 0) {
        const QList<QPointer<TfrmPadrao>> pending = std::exchange(m_pendingActivations, {});
        for (const QPointer<TfrmPadrao>& f : pending)
            if (f) f->Activate();
    }
    frame->showNormal();
}

void DesktopServices::activateForm(TfrmPadrao* form) {
    // Shown on the user's request, the window's activation is asked for; going back to a
    // window already open is not.
    if (m_showingDepth > 0)
        m_pendingActivations << form;
    else
        form->Activate(false);
}
