// The open screen learns of changes stored by others: through its own server or another one on
// the same database, a bar above the pages says who changed what within two seconds, and its
// "Verificar" shows the new value; what the user is editing is never read over, and the screen's
// own changes are no news to it.

#include "ParametrosFixture.h"
#include "server/RhServer.h"

#include <QLabel>
#include <QPushButton>

class ChangeNoticesTest : public ParametrosFixture {
    Q_OBJECT

    TNoticeBar* bar() const { return form()->barAvisos; }
    QString barText() const {
        return bar()->findChild<QLabel*>(QStringLiteral("lblAvisos"))->text();
    }

    // Another desktop's writes through the server at the port: the general record's percentage,
    // then a questionnaire's standard mark of branch 0001 (SetInsPad or SetDelPad).
    void storeElsewhere(quint16 port, double temporaries, const QString& markMethod) {
        TNetConnection other;
        other.ServerName = QString(contract::ServerObjectName);
        other.Host = services().serverHost;
        other.Port = port;
        other.SetConnected(true);
        protocol::Response r =
            other.AppServer().call(contract::method::GetGeral, {QStringLiteral("1")});
        QVERIFY(r.ok);
        const protocol::DataPacket geral = protocol::resultPacket(r);
        protocol::Delta delta;
        delta.fields = geral.fields;
        delta.changes.push_back({protocol::DeltaChange::Op::Update, geral.rows[0], geral.rows[0]});
        delta.changes[0].newValues[geral.indexOf(QStringLiteral("VRPEENCTEMP"))] = temporaries;
        r = other.AppServer().call(contract::method::SetGeral, {delta});
        QVERIFY2(r.ok, qPrintable(r.errorMessage));
        r = other.AppServer().call(markMethod, {QStringLiteral("01002"), QStringLiteral("0001")});
        QVERIFY2(r.ok, qPrintable(r.errorMessage));
    }

private slots:
    void init() { startDesktop(); }
    void cleanup() { stopDesktop(); }

    void aChangeElsewhereIsToldAndVerifyShowsIt_data() {
        QTest::addColumn<bool>("otherServer");
        QTest::addColumn<QString>("by");
        QTest::newRow("the same server") << false << QStringLiteral(" por admin");
        QTest::newRow("another server on the same file") << true << QString();
    }
    void aChangeElsewhereIsToldAndVerifyShowsIt() {
        QFETCH(bool, otherServer);
        QFETCH(QString, by);
        std::unique_ptr<rhserver::RhServer> second;
        quint16 port = quint16(services().serverPort);
        if (otherServer) {
            rhserver::ServerOptions options;
            options.db = QStringLiteral("sqlite:") + m_dbPath;
            second = std::make_unique<rhserver::RhServer>(options);
            QString error;
            QVERIFY2(second->start(QHostAddress::LocalHost, 0, &error), qPrintable(error));
            port = second->port();
        }
        openScreen();
        TfrmParametros* f = form();
        QTRY_VERIFY(!Cli_zol00900::boPrimVez);
        QVERIFY(!bar()->isVisible());

        storeElsewhere(port, 9, QStringLiteral("SetInsPad"));
        QTRY_VERIFY_WITH_TIMEOUT(barText().count(u'\n') == 1, 2000);
        QVERIFY(bar()->isVisible());
        const QStringList lines = barText().split(u'\n');
        const QString at = QStringLiteral(" às ") +
                           QTime::currentTime().toString(QStringLiteral("HH:mm")) +
                           QStringLiteral(".");
        QVERIFY2(lines.contains(QStringLiteral("Os parâmetros gerais foram alterados") + by + at),
                 qPrintable(barText()));
        QVERIFY2(lines.contains(QStringLiteral("Os questionários da filial 0001 foram alterados") +
                                by + at),
                 qPrintable(barText()));
        // Nothing was read over what the screen shows until the user asks.
        QCOMPARE(f->cdsGeral.FieldByName(QStringLiteral("VRPEENCTEMP")).AsFloat(), 12.5);
        click(bar()->ActionButton());
        QCOMPARE(f->cdsGeral.FieldByName(QStringLiteral("VRPEENCTEMP")).AsFloat(), 9.0);
        QVERIFY(!bar()->isVisible());

        // While the record is being edited, the bar says Confirm will compare; its Verificar
        // leaves what was typed.
        typeInto(f->dbeVrPeEncEfet, QStringLiteral("70"));
        storeElsewhere(port, 10, QStringLiteral("SetDelPad"));
        // Both notices in (one record's notices come a quarter of a second apart at least).
        QTRY_VERIFY_WITH_TIMEOUT(barText().count(u'\n') == 1, 2000);
        QTRY_VERIFY(barText().contains(
            QStringLiteral("Ao confirmar, suas alterações serão comparadas com as gravadas.")));
        click(bar()->ActionButton());
        QCOMPARE(f->cdsGeral.State(), DataSetState::Edit);
        QCOMPARE(f->dbeVrPeEncEfet->text(), QStringLiteral("70"));
        QVERIFY(barText().contains(QStringLiteral("Ao confirmar")));
        QVERIFY(services().statusNotes.last().contains(QStringLiteral("não foram lidos de novo")));

        // Confirmed: only the fields typed were compared; the screen then shows what is stored,
        // the other change too, and the bar is done with the record.
        click(f->sbtConfirmar);
        QCOMPARE(f->cdsGeral.State(), DataSetState::Browse);
        QCOMPARE(f->cdsGeral.FieldByName(QStringLiteral("VRPEENCTEMP")).AsFloat(), 10.0);
        QVERIFY2(!barText().contains(QStringLiteral("parâmetros gerais")), qPrintable(barText()));
        click(f->sbtVerificar);
        QVERIFY(!bar()->isVisible());
        QCOMPARE(f->cdsGeral.FieldByName(QStringLiteral("VRPEENCTEMP")).AsFloat(), 10.0);
        QCOMPARE(f->cdsGeral.FieldByName(QStringLiteral("VRPEENCEFET")).AsFloat(), 70.0);
        QTest::qWait(600);
        QVERIFY(!bar()->isVisible());
    }

    // The office's service restarted while the screen is open: with no activation of the window,
    // a change another desktop stores after the restart is told.
    void afterItsServerRestartedTheScreenHearsAgain() {
        stopDesktop();
        startDesktopOverTls();
        openScreen();
        QTRY_VERIFY(!Cli_zol00900::boPrimVez);
        restartOffice();
        // The screen hears again once it has subscribed on a new connection: changes stored
        // before that are nobody's news, so they are stored until one is told.
        for (int i = 0; i < 20; ++i) {
            storeElsewhere(m_office->port(), 9 + i,
                           i % 2 ? QStringLiteral("SetDelPad") : QStringLiteral("SetInsPad"));
            if (QTest::qWaitFor([this] { return bar()->isVisible(); }, 500)) break;
        }
        QVERIFY(bar()->isVisible());
        QVERIFY2(barText().contains(QStringLiteral("Os parâmetros gerais foram alterados")),
                 qPrintable(barText()));
    }
};

QTEST_MAIN(ChangeNoticesTest)
#include "ChangeNoticesTest.moc"
