#include "SmtpTestServer.h"

#include <QDeadlineTimer>
#include <QFile>

namespace pw::test {

#ifndef POSTWICK_SUPPORT_SOURCE_DIR
#error "POSTWICK_SUPPORT_SOURCE_DIR must name the source tree"
#endif

QString SmtpTestServer::scriptPath() {
    return QStringLiteral(POSTWICK_SUPPORT_SOURCE_DIR "/tests/smtp/servers/aiosmtpd_server.py");
}

SmtpTestServer::~SmtpTestServer() {
    stop();
}

bool SmtpTestServer::start(const QStringList& arguments, int timeoutMs) {
    return startScript(QStringLiteral("aiosmtpd_server.py"), arguments, timeoutMs);
}

bool SmtpTestServer::startScript(const QString& scriptName, const QStringList& arguments,
                                 int timeoutMs) {
    stop();
    m_out.clear();
    m_error.clear();
    const QString script =
        QStringLiteral(POSTWICK_SUPPORT_SOURCE_DIR "/tests/smtp/servers/") + scriptName;
    m_process.setProgram(QStringLiteral(POSTWICK_PYTHON_DEFAULT));
    m_process.setArguments(QStringList{script} + arguments);
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    m_process.start();
    if (!m_process.waitForStarted(timeoutMs)) {
        m_error =
            QStringLiteral("cannot start %1: %2").arg(m_process.program(), m_process.errorString());
        return false;
    }
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        m_process.waitForReadyRead(100);
        m_out += m_process.readAllStandardOutput();
        const qsizetype at = m_out.indexOf("READY ");
        if (at >= 0 && m_out.indexOf('\n', at) > at) {
            const qsizetype end = m_out.indexOf('\n', at);
            m_port = static_cast<quint16>(m_out.mid(at + 6, end - at - 6).trimmed().toUInt());
            m_out.remove(0, end + 1);
            return m_port != 0;
        }
        if (m_process.state() == QProcess::NotRunning) {
            break;
        }
    }
    m_error = QStringLiteral("the SMTP server did not start: %1")
                  .arg(QString::fromUtf8(m_process.readAllStandardError()));
    stop();
    return false;
}

void SmtpTestServer::stop() {
    if (m_process.state() != QProcess::NotRunning) {
        m_process.closeWriteChannel();  // the server ends when its input closes
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(2000);
        }
    }
    m_port = 0;
}

QStringList SmtpTestServer::events() {
    m_process.waitForReadyRead(50);
    m_out += m_process.readAllStandardOutput();
    QStringList lines;
    for (const QByteArray& l : m_out.split('\n')) {
        if (!l.trimmed().isEmpty()) {
            lines.append(QString::fromUtf8(l.trimmed()));
        }
    }
    return lines;
}

// ---------------------------------------------------------------------------------------------

bool TestCertificates::run(const QStringList& arguments) {
    QProcess p;
    p.setWorkingDirectory(m_dir);
    p.start(QStringLiteral("openssl"), arguments);
    if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        m_error = QStringLiteral("openssl %1: %2")
                      .arg(arguments.join(' '), QString::fromUtf8(p.readAllStandardError()));
        return false;
    }
    return true;
}

QByteArray TestCertificates::sha256(const QString& certFile) {
    QProcess p;
    p.start(QStringLiteral("openssl"),
            {"x509", "-in", certFile, "-noout", "-fingerprint", "-sha256"});
    if (!p.waitForFinished(30000))
        return {};
    const QByteArray line = p.readAllStandardOutput().trimmed();
    return QByteArray::fromHex(line.mid(line.indexOf('=') + 1).replace(":", ""));
}

TestCertificates::TestCertificates(const QString& folder) : m_dir(folder) {
    if (!m_dir.endsWith('/')) {
        m_dir += '/';
    }
    const QStringList ec = {"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"};
    auto writeExt = [&](const QString& name, const QString& san) {
        QFile f(m_dir + name);
        return f.open(QIODevice::WriteOnly) &&
               f.write(QStringLiteral("basicConstraints=CA:FALSE\nsubjectAltName=%1\n")
                           .arg(san)
                           .toUtf8()) > 0;
    };
    m_ok =
        run(QStringList{"req", "-x509"} + ec +
            QStringList{"-keyout", "ca.key", "-out", "ca.pem", "-days", "3", "-subj",
                        "/CN=Postwick Test CA", "-addext", "basicConstraints=critical,CA:TRUE",
                        "-addext", "keyUsage=critical,keyCertSign,cRLSign"}) &&
        writeExt("local.ext", "DNS:localhost,IP:127.0.0.1") &&
        writeExt("other.ext", "DNS:mail.example.org") &&
        run(QStringList{"req"} + ec +
            QStringList{"-keyout", "server.key", "-out", "server.csr", "-subj", "/CN=localhost"}) &&
        run({"x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
             "-CAcreateserial", "-out", "server.pem", "-days", "3", "-extfile", "local.ext"}) &&
        run(QStringList{"req"} + ec +
            QStringList{"-keyout", "other.key", "-out", "other.csr", "-subj",
                        "/CN=mail.example.org"}) &&
        run({"x509", "-req", "-in", "other.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
             "-CAcreateserial", "-out", "other.pem", "-days", "3", "-extfile", "other.ext"}) &&
        run(QStringList{"req", "-x509"} + ec +
            QStringList{"-keyout", "self.key", "-out", "self.pem", "-days", "3", "-subj",
                        "/CN=localhost", "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1"});
}

}  // namespace pw::test
