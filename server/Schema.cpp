#include "Schema.h"

#include <QDateTime>
#include <QDir>

namespace rhserver {

namespace {

// Each entry upgrades the schema by one version; {ID} is the engine's auto-numbered key.
const QVector<QStringList>& migrations() {
    static const QVector<QStringList> all = {
        {
            QStringLiteral("CREATE TABLE FILIAL (CDFILIAL VARCHAR(4) NOT NULL PRIMARY KEY, "
                           "NMFILIAL VARCHAR(30) NOT NULL)"),
            QStringLiteral("CREATE TABLE INDICE (CDINDICE VARCHAR(4) NOT NULL PRIMARY KEY, "
                           "NMINDICE VARCHAR(30) NOT NULL, CDTPINDICE VARCHAR(1) NOT NULL, "
                           "IDPERVALOR VARCHAR(1) NOT NULL)"),
            QStringLiteral("CREATE TABLE CONVMEDI (CDCONVMEDI VARCHAR(2) NOT NULL PRIMARY KEY, "
                           "NMCONVMEDI VARCHAR(30) NOT NULL)"),
            QStringLiteral("CREATE TABLE CARGO (CDCARGO VARCHAR(4) NOT NULL PRIMARY KEY, "
                           "NMCARGO VARCHAR(30) NOT NULL)"),
            QStringLiteral("CREATE TABLE DEPTO (CDDEPTO VARCHAR(3) NOT NULL PRIMARY KEY, "
                           "NMDEPTO VARCHAR(30) NOT NULL)"),
            QStringLiteral("CREATE TABLE INSPECAO (CDINSPECAO VARCHAR(10) NOT NULL PRIMARY KEY, "
                           "NMINSPECAO VARCHAR(200) NOT NULL)"),
            QStringLiteral("CREATE TABLE CODPICT (CDTPPICT INTEGER NOT NULL PRIMARY KEY, "
                           "NMPICT VARCHAR(40) NOT NULL, DSMASCARA VARCHAR(30) NOT NULL)"),
            QStringLiteral(
                "CREATE TABLE PARAMRH (CDPARAMRH VARCHAR(1) NOT NULL PRIMARY KEY, "
                "VRPRAZEFEFUN DOUBLE PRECISION, VRPEENCEFET DOUBLE PRECISION, "
                "VRPEENCTEMP DOUBLE PRECISION, VRPEDESCVT DOUBLE PRECISION, "
                "IDTPINDCB VARCHAR(1), CDINDICECB VARCHAR(4) REFERENCES INDICE (CDINDICE), "
                "DTBASECB DATE, VRCESTABAS DOUBLE PRECISION, IDTPFERIASPG VARCHAR(1), "
                "QTDIASFERIPG DOUBLE PRECISION)"),
            QStringLiteral("CREATE TABLE PARAMFILIAL (CDFILIAL VARCHAR(4) NOT NULL PRIMARY KEY "
                           "REFERENCES FILIAL (CDFILIAL), DIFECHRH VARCHAR(2), DTULTFECHRH DATE, "
                           "VRTOLEAPON DOUBLE PRECISION, NMDIRPONTO VARCHAR(100), "
                           "CDCONMEDDEF VARCHAR(2) REFERENCES CONVMEDI (CDCONVMEDI), "
                           "IDTPHORARIO VARCHAR(1), IDTIPOAPON VARCHAR(2), IDUTRELOGIO VARCHAR(1), "
                           "IDSAIEVEN VARCHAR(1), VRFATCOMP VARCHAR(2), IDSAID1 VARCHAR(1), "
                           "IDENTRAD2 VARCHAR(1), IDSAID2 VARCHAR(1), IDENTRAD1 VARCHAR(1))"),
            QStringLiteral("CREATE TABLE INSPCARGO (CDFILIAL VARCHAR(4) NOT NULL REFERENCES FILIAL "
                           "(CDFILIAL), "
                           "CDINSPECAO VARCHAR(10) NOT NULL REFERENCES INSPECAO (CDINSPECAO), "
                           "CDCARGO VARCHAR(4) NOT NULL REFERENCES CARGO (CDCARGO), "
                           "PRIMARY KEY (CDFILIAL, CDINSPECAO, CDCARGO))"),
            QStringLiteral("CREATE TABLE INSPDEPTO (CDFILIAL VARCHAR(4) NOT NULL REFERENCES FILIAL "
                           "(CDFILIAL), "
                           "CDINSPECAO VARCHAR(10) NOT NULL REFERENCES INSPECAO (CDINSPECAO), "
                           "CDDEPTO VARCHAR(3) NOT NULL REFERENCES DEPTO (CDDEPTO), "
                           "PRIMARY KEY (CDFILIAL, CDINSPECAO, CDDEPTO))"),
            QStringLiteral("CREATE TABLE INSPPADRAO (CDFILIAL VARCHAR(4) NOT NULL REFERENCES "
                           "FILIAL (CDFILIAL), "
                           "CDINSPECAO VARCHAR(10) NOT NULL REFERENCES INSPECAO (CDINSPECAO), "
                           "PRIMARY KEY (CDFILIAL, CDINSPECAO))"),
            QStringLiteral(
                "CREATE TABLE RHAUDITORIA (NRAUDITORIA {ID}, DTAUDITORIA VARCHAR(30) NOT NULL, "
                "CDFILIAL VARCHAR(4), IDSESSAO VARCHAR(60) NOT NULL, NMMETODO VARCHAR(30) NOT "
                "NULL, "
                "DSARGUMENTOS TEXT NOT NULL)"),
            QStringLiteral("INSERT INTO PARAMRH (CDPARAMRH) VALUES ('1')"),
            QStringLiteral("INSERT INTO CODPICT (CDTPPICT, NMPICT, DSMASCARA) VALUES (12, "
                           "'Questionários de seleção', '99.999')"),
        },
        // Who made each change (the name of the session's token) and calls refused to the role.
        {
            QStringLiteral("ALTER TABLE RHAUDITORIA ADD COLUMN NMTOKEN VARCHAR(60)"),
            QStringLiteral("ALTER TABLE RHAUDITORIA ADD COLUMN IDRECUSADO VARCHAR(1) NOT NULL "
                           "DEFAULT 'N'"),
            QStringLiteral("CREATE INDEX RHAUDITORIA_DATA ON RHAUDITORIA (DTAUDITORIA)"),
        },
        // The address of the client that made each change, so it can be traced to a machine.
        {
            QStringLiteral("ALTER TABLE RHAUDITORIA ADD COLUMN NMENDERECO VARCHAR(64)"),
        },
        // The id of the transaction that wrote each row: a commit whose reply was lost with the
        // connection is looked up by it.
        {
            QStringLiteral("ALTER TABLE RHAUDITORIA ADD COLUMN IDGRAVACAO VARCHAR(32)"),
            QStringLiteral("CREATE INDEX RHAUDITORIA_GRAVACAO ON RHAUDITORIA (IDGRAVACAO)"),
        },
    };
    return all;
}

bool hasVersionTable(Storage& s) {
    for (const QString& t : s.db().tables())
        if (t.compare(QLatin1String("RHVERSAO"), Qt::CaseInsensitive) == 0) return true;
    return false;
}

int currentVersion(Storage& s) {
    if (!hasVersionTable(s)) return 0;
    QSqlQuery& q = s.query("SELECT MAX(NRVERSAO) FROM RHVERSAO");
    s.exec(q);
    const int v = q.next() ? q.value(0).toInt() : 0;
    q.finish();
    return v;
}

struct Branch {
    const char* code;
    const char* name;
};

void insertRows(Storage& s, const char* sql, const QVector<QVariantList>& rows) {
    QSqlQuery& q = s.query(sql);
    for (const QVariantList& row : rows) {
        for (int i = 0; i < row.size(); ++i)
            q.bindValue(i, row[i]);
        s.exec(q);
    }
    q.finish();
}

QVariant date(int y, int m, int d, Engine e) {
    const QDate value(y, m, d);
    return e == Engine::SQLite ? QVariant(value.toString(Qt::ISODate)) : QVariant(value);
}

// The payroll folder of a demo branch, made now; null when there is no root or it cannot be made.
QVariant demoPayrollFolder(const QString& root, const char* branch) {
    if (root.isEmpty()) return {};
    const QString path =
        QDir(root).absoluteFilePath(QStringLiteral("folha/") + QLatin1String(branch));
    return QDir().mkpath(path) ? QVariant(QDir::cleanPath(path)) : QVariant();
}

void fillDemo(Storage& s, const QString& payrollRoot) {
    const auto t = [](const char* text) { return QVariant(QString::fromUtf8(text)); };
    insertRows(s, "INSERT INTO FILIAL (CDFILIAL, NMFILIAL) VALUES (?, ?)",
               {{t("0001"), t("Matriz São Paulo")},
                {t("0002"), t("Filial Rio de Janeiro")},
                {t("0003"), t("Filial Belo Horizonte")},
                {t("0004"), t("Filial Curitiba")},
                {t("0005"), t("Filial Porto Alegre")}});
    // Type '2' indices feed the basic-basket lookups; the type '1' ones must never show there.
    insertRows(
        s, "INSERT INTO INDICE (CDINDICE, NMINDICE, CDTPINDICE, IDPERVALOR) VALUES (?, ?, ?, ?)",
        {{t("0001"), t("IPCA"), t("2"), t("1")},
         {t("0002"), t("INPC"), t("2"), t("1")},
         {t("0003"), t("IGP-M"), t("2"), t("1")},
         {t("0010"), t("Salário Mínimo Nacional"), t("2"), t("2")},
         {t("0011"), t("Cesta Básica DIEESE"), t("2"), t("2")},
         {t("0012"), t("Piso Regional SP"), t("2"), t("2")},
         {t("0020"), t("Taxa Referencial (TR)"), t("1"), t("1")},
         {t("0021"), t("UFESP"), t("1"), t("2")}});
    insertRows(s, "INSERT INTO CONVMEDI (CDCONVMEDI, NMCONVMEDI) VALUES (?, ?)",
               {{t("01"), t("Unimed Paulistana")},
                {t("02"), t("Bradesco Saúde")},
                {t("03"), t("SulAmérica Saúde")},
                {t("04"), t("Amil Assistência Médica")},
                {t("05"), t("NotreDame Intermédica")}});
    const char* cargos[] = {"Analista de Recursos Humanos",
                            "Assistente Administrativo",
                            "Auxiliar de Produção",
                            "Contador",
                            "Coordenador de Vendas",
                            "Desenvolvedor de Sistemas",
                            "Eletricista de Manutenção",
                            "Enfermeiro do Trabalho",
                            "Engenheiro de Produção",
                            "Gerente Comercial",
                            "Motorista",
                            "Operador de Empilhadeira",
                            "Porteiro",
                            "Recepcionista",
                            "Supervisor de Logística",
                            "Técnico de Segurança",
                            "Telefonista",
                            "Torneiro Mecânico",
                            "Vendedor Externo",
                            "Vigilante"};
    QVector<QVariantList> rows;
    for (int i = 0; i < 20; ++i)
        rows.push_back({QStringLiteral("%1").arg(i + 1, 4, 10, QChar(u'0')), t(cargos[i])});
    insertRows(s, "INSERT INTO CARGO (CDCARGO, NMCARGO) VALUES (?, ?)", rows);
    const char* deptos[] = {
        "Recursos Humanos",         "Financeiro", "Comercial",  "Produção",  "Logística",
        "Tecnologia da Informação", "Jurídico",   "Manutenção", "Qualidade", "Diretoria"};
    rows.clear();
    for (int i = 0; i < 10; ++i)
        rows.push_back({QStringLiteral("%1").arg(i + 1, 3, 10, QChar(u'0')), t(deptos[i])});
    insertRows(s, "INSERT INTO DEPTO (CDDEPTO, NMDEPTO) VALUES (?, ?)", rows);
    insertRows(
        s, "INSERT INTO CODPICT (CDTPPICT, NMPICT, DSMASCARA) VALUES (?, ?, ?)",
        {{1, t("Centros de custo"), t("99.99.999")}, {7, t("Plano de contas"), t("9.99.9999")}});
    // Two groups on the first level of picture 12 ("99.999") and the questionnaires under them.
    insertRows(s, "INSERT INTO INSPECAO (CDINSPECAO, NMINSPECAO) VALUES (?, ?)",
               {{t("01"), t("Questionários administrativos")},
                {t("01001"), t("Entrevista inicial - área administrativa")},
                {t("01002"), t("Avaliação de conhecimentos gerais")},
                {t("01003"), t("Avaliação de liderança")},
                {t("02"), t("Questionários operacionais")},
                {t("02001"), t("Entrevista inicial - área operacional")},
                {t("02002"), t("Avaliação de segurança do trabalho")},
                {t("02003"), t("Teste prático de operação")}});
    insertRows(s, "INSERT INTO INSPCARGO (CDFILIAL, CDINSPECAO, CDCARGO) VALUES (?, ?, ?)",
               {{t("0001"), t("01001"), t("0001")},
                {t("0001"), t("01001"), t("0002")},
                {t("0001"), t("02002"), t("0016")},
                {t("0002"), t("01003"), t("0010")}});
    insertRows(s, "INSERT INTO INSPDEPTO (CDFILIAL, CDINSPECAO, CDDEPTO) VALUES (?, ?, ?)",
               {{t("0001"), t("01002"), t("001")},
                {t("0001"), t("01002"), t("002")},
                {t("0002"), t("02001"), t("004")}});
    // The standard questionnaire of a branch has no position or department ties there.
    insertRows(s, "INSERT INTO INSPPADRAO (CDFILIAL, CDINSPECAO) VALUES (?, ?)",
               {{t("0001"), t("01003")}, {t("0002"), t("02002")}});
    const Engine e = s.engine();
    QSqlQuery& geral =
        s.query("UPDATE PARAMRH SET VRPRAZEFEFUN = ?, VRPEENCEFET = ?, VRPEENCTEMP = ?, "
                "VRPEDESCVT = ?, IDTPINDCB = ?, CDINDICECB = ?, DTBASECB = ?, VRCESTABAS = ?, "
                "IDTPFERIASPG = ?, QTDIASFERIPG = ? WHERE CDPARAMRH = '1'");
    const QVariantList values = {90.0,  68.18,  12.5, 6.0, t("V"), t("0011"), date(2026, 1, 31, e),
                                 689.5, t("U"), 22.0};
    for (int i = 0; i < values.size(); ++i)
        geral.bindValue(i, values[i]);
    s.exec(geral);
    geral.finish();
    insertRows(
        s,
        "INSERT INTO PARAMFILIAL (CDFILIAL, DIFECHRH, DTULTFECHRH, VRTOLEAPON, NMDIRPONTO, "
        "CDCONMEDDEF, "
        "IDTPHORARIO, IDTIPOAPON, IDUTRELOGIO, IDSAIEVEN, VRFATCOMP, IDSAID1, IDENTRAD2, IDSAID2, "
        "IDENTRAD1) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
        {{t("0001"), t("25"), date(2026, 1, 25, e), 10.0, demoPayrollFolder(payrollRoot, "0001"),
          t("01"), t("N"), t("01"), t("S"), t("N"), t("10"), t("S"), t("S"), t("S"), t("S")},
         {t("0002"), t("20"), date(2026, 1, 20, e), 5.0, demoPayrollFolder(payrollRoot, "0002"),
          t("02"), t("N"), t("02"), t("S"), t("N"), t("05"), t("S"), t("N"), t("S"), t("S")},
         {t("0003"), t("30"), QVariant(), 15.0, demoPayrollFolder(payrollRoot, "0003"), QVariant(),
          t("F"), t("01"), t("N"), t("S"), t("00"), t("N"), t("N"), t("N"), t("N")}});
}

bool tableIsEmpty(Storage& s, const char* sql) {
    QSqlQuery& q = s.query(sql);
    s.exec(q);
    const bool empty = !q.next();
    q.finish();
    return empty;
}

} // namespace

QVector<int> levelLengths(const QString& mask) {
    QVector<int> lengths;
    int total = 0;
    for (const QString& segment : mask.split(u'.')) {
        if (segment.isEmpty()) return {};
        total += int(segment.size());
        lengths.push_back(total);
    }
    return lengths;
}

bool initDatabase(const QString& db, bool demo, QString* error, QString* report,
                  const QString& payrollRoot) {
    const auto address = DbAddress::parse(db, error);
    if (!address) return false;
    Storage s(*address);
    if (!s.open(error, true)) return false;
    try {
        s.begin();
        int version = currentVersion(s);
        if (version > SchemaVersion) {
            s.rollback();
            *error = QStringLiteral(
                         "O banco de dados está na versão %1 do esquema, mais nova que a deste "
                         "servidor (%2); atualize o rhserver.")
                         .arg(version)
                         .arg(SchemaVersion);
            return false;
        }
        const int from = version;
        if (version == 0)
            s.execDirect(
                QStringLiteral("CREATE TABLE RHVERSAO (NRVERSAO INTEGER NOT NULL PRIMARY KEY, "
                               "DTAPLICACAO VARCHAR(30) NOT NULL)"));
        const QString id = s.engine() == Engine::SQLite
                               ? QStringLiteral("INTEGER PRIMARY KEY AUTOINCREMENT")
                               : QStringLiteral("BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY");
        for (; version < SchemaVersion; ++version) {
            for (QString sql : migrations()[version])
                s.execDirect(sql.replace(QLatin1String("{ID}"), id));
            QSqlQuery& q = s.query("INSERT INTO RHVERSAO (NRVERSAO, DTAPLICACAO) VALUES (?, ?)");
            q.bindValue(0, version + 1);
            q.bindValue(1, QDateTime::currentDateTimeUtc().toString(Qt::ISODate));
            s.exec(q);
        }
        bool demoDone = false;
        if (demo && tableIsEmpty(s, "SELECT CDFILIAL FROM FILIAL")) {
            fillDemo(s, payrollRoot);
            demoDone = true;
        }
        s.commit();
        if (report) {
            *report = from == SchemaVersion
                          ? QStringLiteral("esquema já estava na versão %1").arg(SchemaVersion)
                          : QStringLiteral("esquema criado/atualizado da versão %1 para a %2")
                                .arg(from)
                                .arg(SchemaVersion);
            if (demo)
                *report +=
                    demoDone
                        ? QStringLiteral("; dados de demonstração incluídos")
                        : QStringLiteral(
                              "; dados de demonstração não incluídos (o banco já tem filiais)");
        }
        return true;
    } catch (const ServiceError&) {
        s.rollback();
        *error = QStringLiteral("Não foi possível inicializar o banco de dados %1: %2.")
                     .arg(address->display(), s.lastFailure());
        return false;
    }
}

QString schemaProblem(Storage& storage) {
    try {
        const int version = currentVersion(storage);
        if (version == 0)
            return QStringLiteral(
                "O banco de dados não foi inicializado; execute rhserver --init --db ... antes de "
                "iniciar o serviço.");
        if (version < SchemaVersion)
            return QStringLiteral("O banco de dados está na versão %1 do esquema; execute rhserver "
                                  "--init para "
                                  "atualizá-lo para a versão %2.")
                .arg(version)
                .arg(SchemaVersion);
        if (version > SchemaVersion)
            return QStringLiteral("O banco de dados está na versão %1 do esquema, mais nova que a "
                                  "deste servidor (%2).")
                .arg(version)
                .arg(SchemaVersion);
        return {};
    } catch (const ServiceError& e) {
        return e.message;
    }
}

} // namespace rhserver
