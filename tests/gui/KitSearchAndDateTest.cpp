// The kit's pick list and date editor with real keys and clicks.

#include "BtnPesquisa.h"
#include "DBControls.h"
#include "Exceptions.h"
#include "PickList.h"
#include "RecordingHost.h"

#include <QApplication>
#include <QCalendarWidget>
#include <QHeaderView>
#include <QLineEdit>
#include <QTableView>
#include <QtTest>

class KitSearchAndDateTest : public QObject {
    Q_OBJECT

    RecordingHost m_host;
    TClientDataSet m_rows{QStringLiteral("cdsFiliais")};

private slots:
    void initTestCase() {
        m_rows.AddField({QStringLiteral("CDFILIAL"), FieldType::String, 4},
                        QStringLiteral("Código"));
        m_rows.AddField({QStringLiteral("NMFILIAL"), FieldType::String, 30},
                        QStringLiteral("Nome"));
        m_rows.AddField({QStringLiteral("OCULTO"), FieldType::String, 1}).Visible = false;
        protocol::DataPacket p;
        p.fields = {{QStringLiteral("CDFILIAL"), FieldType::String, 4},
                    {QStringLiteral("NMFILIAL"), FieldType::String, 30},
                    {QStringLiteral("OCULTO"), FieldType::String, 1}};
        p.rows = {{QStringLiteral("0001"), QStringLiteral("Matriz São Paulo"), QStringLiteral("x")},
                  {QStringLiteral("0002"), QStringLiteral("Filial Rio de Janeiro"), QVariant()},
                  {QStringLiteral("0003"), QStringLiteral("Filial Rio Branco"), QVariant()},
                  {QStringLiteral("0004"), QStringLiteral("Filial Curitiba"), QVariant()}};
        m_rows.SetData(p);
    }

    void pickListIsKeyboardFirst_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QList<int>>("keys");
        QTest::addColumn<int>("picked"); // -1: closed without a pick
        QTest::newRow("filter, first match") << "rio" << QList<int>{Qt::Key_Return} << 1;
        QTest::newRow("filter, arrow down")
            << "RIO" << QList<int>{Qt::Key_Down, Qt::Key_Return} << 2;
        QTest::newRow("code filter") << "0004" << QList<int>{Qt::Key_Enter} << 3;
        QTest::newRow("arrows without filter")
            << "" << QList<int>{Qt::Key_Down, Qt::Key_Down, Qt::Key_Up, Qt::Key_Return} << 1;
        QTest::newRow("Esc") << "rio" << QList<int>{Qt::Key_Escape} << -1;
        QTest::newRow("nothing matches") << "zzz" << QList<int>{Qt::Key_Return} << -1;
    }
    void pickListIsKeyboardFirst() {
        QFETCH(QString, typed);
        QFETCH(QList<int>, keys);
        QFETCH(int, picked);
        m_rows.First();
        TPickList list(m_rows, {QStringLiteral("NMFILIAL"), QStringLiteral("CDFILIAL")},
                       QStringLiteral("Pesquisa de filiais"));
        list.show();
        // Shown outside a modal loop, the list asks the window manager for the activation.
        list.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&list));
        auto* filter = list.findChild<QLineEdit*>(QStringLiteral("edtFiltro"));
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(filter));
        // The visible columns, in the order asked, by their labels.
        auto* table = list.findChild<QTableView*>(QStringLiteral("tabelaPesquisa"));
        QCOMPARE(table->model()->columnCount(), 2);
        QCOMPARE(table->model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Nome"));
        QCOMPARE(table->model()->headerData(1, Qt::Horizontal).toString(),
                 QStringLiteral("Código"));
        QCOMPARE(list.windowTitle(), QStringLiteral("Pesquisa de filiais"));
        // The code as wide as its texts, the name taking the rest, on one line.
        QCOMPARE(table->horizontalHeader()->sectionResizeMode(1), QHeaderView::ResizeToContents);
        QCOMPARE(table->horizontalHeader()->sectionResizeMode(0), QHeaderView::Stretch);
        QVERIFY(table->horizontalHeader()->sectionSize(0) >
                table->horizontalHeader()->sectionSize(1));
        QVERIFY(!table->wordWrap());
        QTest::keyClicks(filter, typed);
        for (int key : keys)
            QTest::keyClick(QApplication::focusWidget(), Qt::Key(key));
        const bool accepted = list.result() == QDialog::Accepted;
        QCOMPARE(accepted ? list.PickedRecord() : -1, picked);
    }

    // The list opens on the row of the code the edit beside the button shows.
    void theListOpensOnTheValueShown() {
        QWidget parent;
        QLineEdit code(&parent);
        TBtnPesquisa button(&parent, QStringLiteral("btnTeste"));
        TDataSource source(QStringLiteral("dtsTeste"), &m_rows);
        button.DataSource = &source;
        button.Associate = &code;
        button.Caption = QStringLiteral("Pesquisa de filiais");
        m_host.pick = -1;
        for (const auto& [shown, row] : QList<QPair<QString, int>>{
                 {QStringLiteral("0003"), 2}, {QStringLiteral("9999"), 0}, {QString(), 0}}) {
            m_rows.First();
            code.setText(shown);
            button.Pesquisar();
            QCOMPARE(m_host.openedOn, row);
        }
        QCOMPARE(m_host.pickedTitle, QStringLiteral("Pesquisa de filiais"));
    }

    void failedBeforeSearchKeepsTheListClosed() {
        QWidget parent;
        TBtnPesquisa button(&parent, QStringLiteral("btnTeste"));
        TDataSource source(QStringLiteral("dtsTeste"), &m_rows);
        button.DataSource = &source;
        bool after = false;
        button.OnBeforePesq = [](bool&) { throw EDatabaseError(QStringLiteral("sem banco")); };
        button.OnAfterPesq = [&] { after = true; };
        m_host.pick = 0;
        m_host.pickedFrom.clear();
        parent.show();
        QTest::mouseClick(&button, Qt::LeftButton);
        QVERIFY(m_host.pickedFrom.isEmpty());
        QVERIFY(!after);
        QCOMPARE(m_host.exceptions.last(), QStringLiteral("sem banco"));
        QCOMPARE(QApplication::focusWidget(), nullptr); // the button took no focus
    }

    void dateEditorJudgesItsTextAndShowsTheWeekday() {
        TClientDataSet dates(QStringLiteral("cdsDatas"));
        dates.AddField({QStringLiteral("DTBASE"), FieldType::Date, 0});
        protocol::DataPacket p;
        p.fields = {{QStringLiteral("DTBASE"), FieldType::Date, 0}};
        p.rows = {{QVariant(QDate(2026, 1, 31))}};
        dates.SetData(p);
        TDataSource source(QStringLiteral("dtsDatas"), &dates);
        QWidget parent;
        TDBDateEditPlus editor(&parent, QStringLiteral("dbdTeste"));
        editor.NomeSemana = {QStringLiteral("Domingo"), QStringLiteral("Segunda"),
                             QStringLiteral("Terça"),   QStringLiteral("Quarta"),
                             QStringLiteral("Quinta"),  QStringLiteral("Sexta"),
                             QStringLiteral("Sábado")};
        editor.SetDataField(QStringLiteral("DTBASE"));
        editor.SetDataSource(&source);
        parent.show();
        parent.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&parent));
        QCOMPARE(editor.text(), QStringLiteral("31/01/2026"));
        QCOMPARE(editor.toolTip(), QStringLiteral("Sábado"));
        QCOMPARE(editor.palette().color(QPalette::Text), QColor(Qt::blue));

        // Alt+Down (or F4) opens the calendar, as Qt's date editors do; one click on a day picks
        // it, starts editing and stores the day alone.
        editor.setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(&editor));
        QTest::keyClick(&editor, Qt::Key_Down, Qt::AltModifier);
        auto* calendar = editor.findChild<QCalendarWidget*>(QStringLiteral("dbdTestePopup"));
        QVERIFY(calendar && calendar->isVisible());
        auto* days = calendar->findChild<QTableView*>();
        QModelIndex fifteenth;
        for (int row = 1; row < days->model()->rowCount() && !fifteenth.isValid(); ++row)
            for (int column = 0; column < days->model()->columnCount(); ++column)
                if (days->model()->index(row, column).data().toInt() == 15)
                    fifteenth = days->model()->index(row, column);
        QVERIFY(fifteenth.isValid());
        QTest::mouseClick(days->viewport(), Qt::LeftButton, {},
                          days->visualRect(fifteenth).center());
        QTRY_VERIFY(!calendar->isVisible());
        QCOMPARE(dates.State(), DataSetState::Edit);
        QCOMPARE(editor.toolTip(), QStringLiteral("Quinta"));
        editor.UpdateRecord();
        QCOMPARE(dates.FieldByName(QStringLiteral("DTBASE")).Value(), QVariant(QDate(2026, 1, 15)));
        QTest::keyClick(&editor, Qt::Key_F4);
        QTRY_VERIFY(editor.findChild<QCalendarWidget*>(QStringLiteral("dbdTestePopup")));

        // A text that is no date: the message, and a quiet abort.
        editor.setText(QStringLiteral("30022026"));
        QVERIFY(editor.palette().color(QPalette::Text) != QColor(Qt::blue));
        m_host.errors.clear();
        QVERIFY_THROWS_EXCEPTION(EAbort, editor.CheckValidDate());
        QCOMPARE(m_host.errors, QStringList{QStringLiteral("30/02/2026 não é uma data válida.")});
        QVERIFY(!editor.GetDate().isValid());
    }
};

QTEST_MAIN(KitSearchAndDateTest)
#include "KitSearchAndDateTest.moc"
