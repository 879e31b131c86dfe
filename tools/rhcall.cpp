// rhcall: opens a connection to rhserver, calls one method and prints its JSON result.

#include "CallLine.h"

#include "contract/Methods.h"
#include "protocol/Rpc.h"
#include "protocol/SecretFile.h"
#include "protocol/Tls.h"

#include <QCoreApplication>
#include <QFile>
#include <QSslSocket>
#include <cstdio>

namespace {

const char* const usage =
    "Uso: rhcall [--server HOST:PORTA] [--branch FILIAL] [--token-file ARQUIVO] "
    "[--tls-ca ARQUIVO]\n"
    "            MÉTODO [ARGUMENTO...]\n"
    "     rhcall [--server HOST:PORTA] [--branch FILIAL] [--token-file ARQUIVO] "
    "[--tls-ca ARQUIVO]\n"
    "            --watch [REGISTROS]\n"
    "\n"
    "Chama um método do serviço de parâmetros e escreve o resultado JSON na saída padrão.\n"
    "Para SetGeral e SetFilial o argumento é o arquivo com o pacote de alterações (JSON),\n"
    "ou - para lê-lo da entrada padrão.\n"
    "\n"
    "rhcall ping é a verificação de saúde: abre uma sessão e pergunta se o banco de dados\n"
    "aceita gravações; termina com 0 quando sim e com 1 em qualquer outro caso (servidor fora\n"
    "do ar, token recusado, banco sem gravar).\n"
    "\n"
    "  --server HOST:PORTA   servidor (padrão 127.0.0.1:7400)\n"
    "  --branch FILIAL       filial da sessão (padrão 0001)\n"
    "  --token-file ARQUIVO  token de acesso exigido pelo servidor\n"
    "  --tls-ca ARQUIVO      fala TLS com o servidor e confia só no certificado (ou\n"
    "                        autoridade) do arquivo, para o nome dado em --server\n"
    "  --watch [REGISTROS]   assina os registros (padrão: geral,filial:FILIAL,\n"
    "                        questionario:FILIAL) e escreve cada aviso de alteração numa\n"
    "                        linha JSON (registro, método, quem e quando), até a conexão acabar\n"
    "  --help                mostra esta ajuda\n"
    "  --version             mostra a versão\n";

constexpr int TimeoutMs = 30000;
// A machine that does not answer at all is reported well before the call timeout.
constexpr int ConnectTimeoutMs = 5000;

int fail(const QString& message, int code = 2) {
    std::fprintf(stderr, "rhcall: %s\n", message.simplified().toUtf8().constData());
    return code;
}

struct CallError {
    QString message;
    int code;
};

class Client {
public:
    bool connectTo(const QString& host, quint16 port, const QSslConfiguration& tls,
                   QString* error) {
        if (!tls.isNull()) {
            m_socket.setSslConfiguration(tls);
            m_socket.connectToHostEncrypted(host, port);
            if (m_socket.waitForEncrypted(ConnectTimeoutMs)) return true;
            const QString refused = protocol::handshakeFailureText(m_socket.sslHandshakeErrors());
            if (!refused.isEmpty()) {
                *error = QStringLiteral("conexão segura com %1:%2 recusada: %3")
                             .arg(host)
                             .arg(port)
                             .arg(refused);
                return false;
            }
        } else {
            m_socket.connectToHost(host, port);
            if (m_socket.waitForConnected(ConnectTimeoutMs)) return true;
        }
        *error = QStringLiteral("não foi possível conectar a %1:%2 (%3); verifique se o rhserver "
                                "está no ar nesse endereço")
                     .arg(host)
                     .arg(port)
                     .arg(m_socket.errorString());
        return false;
    }

    // Sends one request line and returns the response with the same id.
    protocol::Response exchange(const std::string& request, std::int64_t id) {
        m_socket.write(request.data(), qint64(request.size()));
        while (m_socket.bytesToWrite() > 0)
            if (!m_socket.waitForBytesWritten(TimeoutMs)) throw CallError{transport(), 2};
        for (;;) {
            while (auto line = m_reader.takeLine()) {
                const protocol::Response r = protocol::parseResponse(
                    std::string_view(line->constData(), size_t(line->size())), m_parser);
                if (r.notice) continue;
                if (r.id == id || r.id == 0) return r;
            }
            if (m_socket.bytesAvailable() == 0 && !m_socket.waitForReadyRead(TimeoutMs))
                throw CallError{transport(), 2};
            m_reader.append(m_socket.readAll());
        }
    }

    // Prints the params of every notice, one line each, until the connection ends.
    [[noreturn]] void watch() {
        for (;;) {
            while (auto line = m_reader.takeLine()) {
                const protocol::Response r = protocol::parseResponse(
                    std::string_view(line->constData(), size_t(line->size())), m_parser);
                if (r.notice) {
                    std::fwrite(r.noticeParamsJson.data(), 1, r.noticeParamsJson.size(), stdout);
                    std::fputc('\n', stdout);
                    std::fflush(stdout);
                } else if (!r.ok) {
                    throw CallError{r.errorMessage, 1};
                }
            }
            if (m_socket.bytesAvailable() == 0 && !m_socket.waitForReadyRead(-1))
                throw CallError{QStringLiteral("a conexão foi encerrada pelo servidor"), 1};
            m_reader.append(m_socket.readAll());
        }
    }

private:
    QString transport() {
        return m_socket.state() == QAbstractSocket::ConnectedState
                   ? QStringLiteral("o servidor não respondeu a tempo")
                   : QStringLiteral("a conexão foi encerrada pelo servidor");
    }

    QSslSocket m_socket; // plain TCP unless told to encrypt
    protocol::LineReader m_reader;
    simdjson::dom::parser m_parser;
};

// The delta in the file (or standard input); throws CallError when it is not a valid delta.
protocol::Delta readDelta(const QString& path) {
    QFile file;
    const bool ok = path == QLatin1String("-")
                        ? file.open(stdin, QIODevice::ReadOnly)
                        : (file.setFileName(path), file.open(QIODevice::ReadOnly));
    if (!ok)
        throw CallError{QStringLiteral("não foi possível ler o arquivo de alterações %1").arg(path),
                        2};
    const QByteArray text = file.readAll();
    try {
        return protocol::deltaFromJson(std::string_view(text.constData(), size_t(text.size())));
    } catch (const protocol::ProtocolError& e) {
        throw CallError{
            QStringLiteral("o arquivo de alterações %1 não é válido: %2").arg(path, e.message()),
            2};
    }
}

std::string request(std::int64_t id, const QString& method, const QStringList& args) {
    const QByteArray name = method.toLatin1();
    const contract::Method* known =
        contract::findMethod(std::string_view(name.constData(), size_t(name.size())));
    const bool delta = known && known->takesDelta;
    QVector<protocol::Argument> params;
    for (const QString& a : args) {
        if (delta)
            params.push_back(readDelta(a));
        else
            params.push_back(a);
    }
    return protocol::requestJson(id, method, params);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    CallLine line;
    QString problem;
    if (!parseCallLine(app.arguments(), &line, &problem)) return fail(problem);
    if (line.help) {
        std::fputs(usage, stdout);
        return 0;
    }
    if (line.version) {
        std::fputs("rhcall " RH_VERSION "\n", stdout);
        return 0;
    }
    const QString &method = line.method, &tokenFile = line.tokenFile;
    const QStringList& params = line.arguments;
    // A health check answers 0 or 1 only: anything that keeps the service from being ready is 1.
    const bool health = line.isHealthCheck();
    const auto failCall = [&](const QString& message, int code) {
        return fail(message, health ? 1 : code);
    };
    QString token;
    if (!tokenFile.isEmpty()) {
        QString why;
        const std::optional<QByteArray> secret = protocol::readSecretFile(tokenFile, &why);
        if (!secret) return failCall(QStringLiteral("token: %1").arg(why), 2);
        token = QString::fromUtf8(*secret).trimmed();
    }

    QSslConfiguration tls;
    if (!line.tlsCaFile.isEmpty()) {
        QString why;
        tls = protocol::clientTls(line.tlsCaFile, &why);
        if (tls.isNull()) return failCall(QStringLiteral("TLS: %1").arg(why), 2);
    }

    try {
        const std::string call = request(2, method, params);
        Client client;
        QString error;
        if (!client.connectTo(line.host, line.port, tls, &error)) return failCall(error, 2);
        const protocol::Response opened = client.exchange(
            protocol::openRequestJson(1, {QString(contract::ServerObjectName), line.branch, token}),
            1);
        if (!opened.ok)
            return fail(
                QStringLiteral("%1 (código %2)").arg(opened.errorMessage).arg(opened.errorCode), 1);
        const protocol::Response r = client.exchange(call, 2);
        if (!r.ok)
            return fail(QStringLiteral("%1 (código %2)").arg(r.errorMessage).arg(r.errorCode), 1);
        if (line.watch) client.watch();
        std::fwrite(r.resultJson.data(), 1, r.resultJson.size(), stdout);
        std::fputc('\n', stdout);
        return 0;
    } catch (const CallError& e) {
        return failCall(e.message, e.code);
    } catch (const protocol::ProtocolError& e) {
        return failCall(QStringLiteral("resposta inválida do servidor: %1").arg(e.message()), 2);
    }
}
