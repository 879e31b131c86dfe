// What a user meets on the desktop: Portuguese texts (Qt's own included), the command line's
// help, menus and keys, glyphs and icons, the questionnaire grid's layout, the branch and
// server in the status bar, the data folder, and the module's entry as the host calls it.

#include "ParametrosFixture.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QSettings>
#include <QStandardPaths>
#include <QTabBar>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>
#include <functional>

extern "C" void IniProc();

namespace {
QString withoutMnemonic(QString text) {
    return text.remove(u'&');
}
QImage picture(const QIcon& icon) {
    return icon.pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32);
}
// Words that betray an English text on a line a Brazilian user reads.
const QRegularExpression englishWord(
    QStringLiteral("\\b(usage|options?|displays?|show|help|the|this|and|or|file|folder|"
                   "server|database|branch|restore|move|size|minimi[sz]e|maximi[sz]e|close|"
                   "undo|redo|cut|copy|paste|delete|select|cancel|stay on top)\\b"),
    QRegularExpression::CaseInsensitiveOption);
} // namespace

class UserFacingTest : public ParametrosFixture {
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init() { startDesktop(); }
    void cleanup() { stopDesktop(); }

    void commandLineHelpIsPortugueseAndSucceeds() {
        QProcess rh;
        // Asking for help needs no display.
        QProcessEnvironment bare = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            bare.remove(QString::fromLatin1(name));
        rh.setProcessEnvironment(bare);
        rh.start(QStringLiteral(RH_BINARY), {QStringLiteral("--help")});
        QVERIFY(rh.waitForFinished(30000));
        QCOMPARE(rh.exitStatus(), QProcess::NormalExit);
        QCOMPARE(rh.exitCode(), 0);
        const QStringList lines =
            QString::fromUtf8(rh.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
        QVERIFY(lines.size() > 5);
        for (QString line : lines) {
            // Option names are names, not words.
            line.remove(QRegularExpression(QStringLiteral("-{1,2}[a-z-?]+")));
            QVERIFY2(!englishWord.match(line).hasMatch(), qPrintable(line));
        }

        rh.setProcessEnvironment(QProcessEnvironment::systemEnvironment());
        rh.start(QStringLiteral(RH_BINARY), {QStringLiteral("--nada")});
        QVERIFY(rh.waitForFinished(30000));
        QCOMPARE(rh.exitCode(), 2);
        const QString error = QString::fromUtf8(rh.readAllStandardError());
        QVERIFY2(error.contains(QStringLiteral("Opção desconhecida: nada")), qPrintable(error));
    }

    void qtOwnTextsArePortuguese() {
        QDialogButtonBox box(QDialogButtonBox::Ok | QDialogButtonBox::Cancel |
                             QDialogButtonBox::Yes | QDialogButtonBox::No);
        QCOMPARE(withoutMnemonic(box.button(QDialogButtonBox::Cancel)->text()),
                 QStringLiteral("Cancelar"));
        QCOMPARE(withoutMnemonic(box.button(QDialogButtonBox::Yes)->text()), QStringLiteral("Sim"));
        QCOMPARE(withoutMnemonic(box.button(QDialogButtonBox::No)->text()), QStringLiteral("Não"));

        openScreen();
        QStringList texts;
        for (QAction* a : windows().first()->systemMenu()->actions())
            if (!a->isSeparator()) texts << withoutMnemonic(a->text());
        std::unique_ptr<QMenu> context(form()->dbeVrPeEncTemp->createStandardContextMenu());
        for (QAction* a : context->actions())
            if (!a->isSeparator()) texts << withoutMnemonic(a->text()).section(u'\t', 0, 0);
        QVERIFY(texts.size() > 8);
        for (const QString& t : texts)
            QVERIFY2(!englishWord.match(t).hasMatch(), qPrintable(t));
    }

    void moduleExportsOnlyItsEntriesAndTheUnitState() {
        QProcess nm;
        nm.start(QStringLiteral("nm"),
                 {QStringLiteral("-D"), QStringLiteral("-C"), QStringLiteral("--defined-only"),
                  QCoreApplication::applicationDirPath() +
                      QStringLiteral("/../modules/libzol00900.so")});
        QVERIFY(nm.waitForFinished(30000));
        QCOMPARE(nm.exitCode(), 0);
        QStringList symbols;
        for (const QString& line :
             QString::fromUtf8(nm.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts)) {
            const QString name = line.section(u' ', 2);
            // The linker's own section markers are in every library, and the address
            // sanitizer marks every exported variable.
            if (!QStringList{QStringLiteral("__bss_start"), QStringLiteral("_edata"),
                             QStringLiteral("_end"), QStringLiteral("_init"),
                             QStringLiteral("_fini")}
                     .contains(name) &&
                !name.startsWith(QStringLiteral("__odr_asan")))
                symbols << name;
        }
        symbols.sort();
        QCOMPARE(symbols,
                 (QStringList{QStringLiteral("Cli_zol00900::boCargVazio"),
                              QStringLiteral("Cli_zol00900::boDepVazio"),
                              QStringLiteral("Cli_zol00900::boIdCriado"),
                              QStringLiteral("Cli_zol00900::boPrimVez"),
                              QStringLiteral("Cli_zol00900::frmParametros"),
                              QStringLiteral("Finalize"), QStringLiteral("GetPackageInfoTable"),
                              QStringLiteral("IniProc"), QStringLiteral("Initialize")}));
    }

    void iniProcKeepsFailuresInsideAndSurvivesADestroyedForm() {
        // The host cannot show the form: the failure is reported, nothing leaves the entry.
        m_desktop->services.mdiArea = nullptr;
        IniProc();
        QCOMPARE(m_desktop->services.shownErrors.size(), 1);
        m_desktop->services.mdiArea = m_window->mdiArea();

        // A form destroyed without being closed leaves the created flag set.
        if (form()) delete form();
        QVERIFY(!form());
        QVERIFY(Cli_zol00900::boIdCriado);
        IniProc();
        QVERIFY(form());
        QCOMPARE(windows().size(), 1);
        QCOMPARE(form()->cdsGeral.RecordCount(), 1);
        QCOMPARE(m_desktop->services.shownErrors.size(), 1);
    }

    void topMenusHaveDistinctAcceleratorsAndTabShowsTheFocus() {
        openScreen();
        QStringList keys;
        for (QAction* a : m_window->menuBar()->actions()) {
            const qsizetype amp = a->text().indexOf(u'&');
            QVERIFY2(amp >= 0, qPrintable(a->text()));
            keys << a->text().mid(amp + 1, 1).toLower();
        }
        QVERIFY(keys.size() >= 3);
        QCOMPARE(QSet<QString>(keys.begin(), keys.end()).size(), keys.size());

        // Every Tab stop shows the focus on something visible, on both pages.
        for (int page : {0, 1}) {
            clickTab(form()->pgcPadrao, page);
            QWidget* first =
                page == 0 ? static_cast<QWidget*>(form()->dbeVrPeEncTemp) : form()->dbeFechamento;
            first->setFocus(Qt::TabFocusReason);
            QTRY_COMPARE(QApplication::focusWidget(), first);
            for (int i = 0; i < 12; ++i) {
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
                QWidget* now = QApplication::focusWidget();
                QVERIFY(now);
                QVERIFY2(now->isVisible(), qPrintable(now->objectName()));
                QVERIFY2(!qobject_cast<QScrollArea*>(now) &&
                             !qobject_cast<QScrollArea*>(now->parentWidget()),
                         qPrintable(now->objectName()));
            }
        }
    }

    void questionnaireTitlesFitAndTheUpperPanelKeepsItsHeight() {
        openScreen();
        form()->mnuQuestionario->trigger();
        TDBGrid* grid = form()->questionario.dbgQuestCand;
        QTRY_VERIFY(grid->isVisible());
        auto checkTitles = [grid] {
            QHeaderView* header = grid->horizontalHeader();
            const int margin =
                header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
            for (int i = 0; i < grid->Columns.size(); ++i) {
                const int needed =
                    header->fontMetrics().horizontalAdvance(grid->Columns[i].Title) + 2 * margin;
                QVERIFY2(grid->columnWidth(i) >= needed, qPrintable(grid->Columns[i].Title));
            }
        };
        checkTitles();
        QFont larger = grid->font();
        larger.setPointSizeF(larger.pointSizeF() * 1.6);
        grid->setFont(larger);
        grid->horizontalHeader()->setFont(larger);
        checkTitles();

        // A taller window gives room to both; once the user drags the handle, the share is theirs.
        QWidget* upperPanel = form()->questionario.panQuesCand;
        QWidget* listPanel = form()->questionario.pan;
        int upper = upperPanel->height();
        int lists = listPanel->height();
        QMdiSubWindow* window = windows().first();
        window->resize(window->width(), window->height() + 150);
        QTRY_VERIFY(listPanel->height() > lists);
        QVERIFY(upperPanel->height() > upper);
        upper = upperPanel->height();
        QSplitterHandle* handle = form()->questionario.splPar->handle(1);
        const QPoint grip = handle->rect().center();
        QTest::mousePress(handle, Qt::LeftButton, {}, grip);
        QMouseEvent drag(QEvent::MouseMove, QPointF(grip + QPoint(0, -40)),
                         QPointF(handle->mapToGlobal(grip + QPoint(0, -40))), Qt::LeftButton,
                         Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(handle, &drag);
        QTest::mouseRelease(handle, Qt::LeftButton, {}, grip + QPoint(0, -40));
        QTRY_VERIFY(upperPanel->height() < upper);
        upper = upperPanel->height();
        lists = listPanel->height();
        window->resize(window->width(), window->height() + 100);
        QTRY_VERIFY(listPanel->height() > lists);
        QCOMPARE(upperPanel->height(), upper);

        QVERIFY(form()->grbDiretorio->font().bold());
        QVERIFY(!form()->dbeDiretorio->font().bold());
    }

    void branchWithoutParametersSaysSoOnTheFilialPage() {
        openScreen();
        clickTab(form()->pgcPadrao, 1);
        QVERIFY(!form()->lblSemParametros->isVisible());
        windows().first()->close();
        QTRY_VERIFY(windows().isEmpty());

        m_desktop->services.branch = QStringLiteral("0004"); // has no parameter record
        openScreen();
        clickTab(form()->pgcPadrao, 1);
        QVERIFY(form()->cdsFilial.IsEmpty());
        QVERIFY(form()->lblSemParametros->isVisible());
        QCOMPARE(
            form()->lblSemParametros->text(),
            QStringLiteral("Esta filial ainda não tem parâmetros: use Alterar para criá-los."));
    }

    void toolBarGlyphsAndWindowIconSayWhatTheyAre() {
        openScreen();
        TfrmParametros* f = form();
        const QList<QToolButton*> buttons{f->sbtIncluir,   f->sbtExcluir,  f->sbtAlterar,
                                          f->sbtConfirmar, f->sbtCancelar, f->sbtVerificar,
                                          f->sbtProcurar,  f->sbtImprimir};
        QList<QImage> seen;
        for (QToolButton* b : buttons) {
            const QImage image = picture(b->icon());
            QVERIFY2(!image.isNull(), qPrintable(b->objectName()));
            QVERIFY2(!seen.contains(image), qPrintable(b->objectName()));
            seen << image;
        }
        // Alterar is no search glass and Imprimir no floppy disk.
        QVERIFY(picture(f->sbtAlterar->icon()) != picture(f->sbtProcurar->icon()));
        QVERIFY(picture(f->sbtImprimir->icon()) !=
                picture(f->style()->standardIcon(QStyle::SP_DriveFDIcon)));
        QCOMPARE(picture(windows().first()->windowIcon()), picture(ProductIcon()));
        QVERIFY(!picture(ProductIcon()).isNull());
    }

    // A fresh user folder: the first start opens "Parâmetros Gerais" filling the workspace; the
    // windows open when rh closes open again at the next start, where the user left them.
    void theWindowsOfTheLastCloseOpenAgain() {
        const QString settings = m_dir.filePath(QStringLiteral("janelas.conf"));
        QFile::remove(settings);
        restartDesktop(settings);
        m_window->restoreWindows();
        QTRY_VERIFY(form() && form()->isVisible());
        const QRect workspace(QPoint(0, 0), m_window->mdiArea()->viewport()->size());
        QCOMPARE(windows().size(), 1);
        QCOMPARE(windows().first()->geometry(), workspace);

        m_window->historyAction()->trigger();
        QTRY_COMPARE(windows().size(), 2);
        QMdiSubWindow* history = m_window->mdiArea()->activeSubWindow();
        QCOMPARE(history->geometry(), workspace);
        history->setGeometry(20, 30, 400, 300); // as the user drags and resizes it
        QVERIFY(m_window->close());
        restartDesktop(settings);
        QVERIFY(windows().isEmpty());
        m_window->restoreWindows();
        QTRY_COMPARE(windows().size(), 2);
        QCOMPARE(m_window->mdiArea()->activeSubWindow()->widget()->objectName(),
                 QStringLiteral("frmHistorico"));
        QCOMPARE(m_window->mdiArea()->activeSubWindow()->geometry(), QRect(20, 30, 400, 300));
        QCOMPARE(windows().first()->geometry(), workspace);
    }

    // Every item of the desktop's menus and of the screen's merged ones has an accelerator of its
    // own in its menu.
    void everyMenuItemHasItsOwnAccelerator() {
        openScreen();
        QTRY_VERIFY(form() && form()->isVisible());
        std::function<void(QMenu*)> check = [&](QMenu* menu) {
            QString taken;
            for (QAction* a : menu->actions()) {
                if (a->isSeparator()) continue;
                const qsizetype at = a->text().indexOf(u'&');
                QVERIFY2(at >= 0, qPrintable(a->text()));
                const QChar letter = a->text()[at + 1].toLower();
                QVERIFY2(!taken.contains(letter), qPrintable(a->text()));
                taken += letter;
                if (a->menu()) check(a->menu());
            }
        };
        QStringList menus;
        for (QAction* a : m_window->menuBar()->actions())
            if (a->menu()) {
                menus << a->text();
                check(a->menu());
            }
        QCOMPARE(menus, (QStringList{QStringLiteral("Mó&dulos"), QStringLiteral("&Operação"),
                                     QStringLiteral("&Manutenção"), QStringLiteral("E&xibir"),
                                     QStringLiteral("&Janela"), QStringLiteral("Aj&uda")}));

        // The history window's controls and the menu bar's letters are Alt+letter alike.
        m_window->historyAction()->trigger();
        auto* history = m_window->findChild<QWidget*>(QStringLiteral("frmHistorico"));
        QTRY_VERIFY(history && history->isVisible());
        QString taken;
        QStringList texts;
        for (QAction* a : m_window->menuBar()->actions())
            if (a->isVisible()) texts << a->text();
        for (QAbstractButton* b : history->findChildren<QAbstractButton*>())
            texts << b->text();
        for (QLabel* l : history->findChildren<QLabel*>())
            texts << l->text();
        for (const QString& text : std::as_const(texts)) {
            const qsizetype at = text.indexOf(u'&');
            if (at < 0) continue;
            QVERIFY2(!taken.contains(text[at + 1].toLower()), qPrintable(text));
            taken += text[at + 1].toLower();
        }
    }

    void branchIsRememberedAndTheServerNamedInWords() {
        const QString settings = m_dir.filePath(QStringLiteral("rh.conf"));
        restartDesktop(settings);
        QCOMPARE(m_desktop->serverDescription, QStringLiteral("Servidor interno"));
        QVERIFY(m_desktop->serverDetails.contains(QString::number(m_desktop->services.serverPort)));
        QCOMPARE(m_desktop->services.FiliProc(), QStringLiteral("0001"));
        m_desktop->services.pickAnswer = [](TClientDataSet&) { return 2; };
        QTest::mouseClick(m_window->findChild<QToolButton*>(QStringLiteral("btnTrocarFilial")),
                          Qt::LeftButton);
        QCOMPARE(m_desktop->services.FiliProc(), QStringLiteral("0003"));

        restartDesktop(settings);
        QCOMPARE(m_desktop->services.FiliProc(), QStringLiteral("0003"));
        // A remembered branch that no longer exists gives way to the first one.
        QSettings(settings, QSettings::IniFormat)
            .setValue(QStringLiteral("filial"), QStringLiteral("9999"));
        restartDesktop(settings);
        QCOMPARE(m_desktop->services.FiliProc(), QStringLiteral("0001"));
    }

    void refusedConnectionIsExplainedInPortuguese() {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        const quint16 port = probe.serverPort();
        probe.close();
        Desktop other;
        DesktopOptions o;
        o.server = QStringLiteral("127.0.0.1:%1").arg(port);
        o.db = QStringLiteral("sqlite:") + m_dbPath;
        QString message;
        QVERIFY(!other.start(o, &message));
        QVERIFY2(message.contains(QStringLiteral("recusou a conexão")), qPrintable(message));
        QVERIFY2(!message.contains(QStringLiteral("refused"), Qt::CaseInsensitive),
                 qPrintable(message));
        setHostServices(&m_desktop->services);
    }

    void databaseFromTheOldDataFolderIsMoved() {
        const QString home = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
        QDir(home + QStringLiteral("/rh")).removeRecursively();
        QVERIFY(QDir().mkpath(home + QStringLiteral("/rh/rh")));
        QFile old(home + QStringLiteral("/rh/rh/rh.db"));
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("dados antigos");
        old.close();
        QString message;
        const QString path = defaultDatabasePath(&message);
        QCOMPARE(path, home + QStringLiteral("/rh/rh.db"));
        QVERIFY(!QFile::exists(old.fileName()));
        QFile moved(path);
        QVERIFY(moved.open(QIODevice::ReadOnly));
        QCOMPARE(moved.readAll(), QByteArray("dados antigos"));
        QDir(home + QStringLiteral("/rh")).removeRecursively();
    }
};

QTEST_MAIN(UserFacingTest)
#include "UserFacingTest.moc"
