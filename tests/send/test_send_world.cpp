#include "test_send_world.h"
#include "RawStatement.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QTcpServer>

namespace pw::test {

CaptureServer::CaptureServer(QString outFolder, QStringList extraArguments)
    : m_folder(std::move(outFolder)), m_extra(std::move(extraArguments)) {}

CaptureServer::~CaptureServer() {
    stop();
}

bool CaptureServer::start() {
    m_process = std::make_unique<QProcess>();
    m_process->setProgram(QStringLiteral(POSTWICK_PYTHON));
    m_process->setArguments(
        QStringList{QStringLiteral(POSTWICK_TEST_DIR "/capture_server.py"), m_folder} + m_extra);
    m_process->setProcessChannelMode(QProcess::SeparateChannels);
    m_process->start();
    if (!m_process->waitForStarted(10000))
        return false;
    QByteArray line;
    while (!line.contains('\n')) {
        if (!m_process->waitForReadyRead(15000))
            return false;
        line += m_process->readAllStandardOutput();
    }
    if (!line.startsWith("PORT "))
        return false;
    m_port = line.mid(5).trimmed().toInt();
    return m_port > 0;
}

void CaptureServer::stop() {
    if (!m_process)
        return;
    m_process->closeWriteChannel();
    if (!m_process->waitForFinished(3000)) {
        m_process->kill();
        m_process->waitForFinished(3000);
    }
    m_process.reset();
}

QJsonArray CaptureServer::index() const {
    QJsonArray out;
    QFile f(m_folder + QStringLiteral("/index.jsonl"));
    if (!f.open(QIODevice::ReadOnly))
        return out;
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (line.trimmed().isEmpty())
            continue;
        out.append(QJsonDocument::fromJson(line).object());
    }
    return out;
}

QByteArray CaptureServer::messageBytes(const QString& file) const {
    return readFile(m_folder + QLatin1Char('/') + file);
}

int closedPort() {
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0))
        return 1;
    const int port = server.serverPort();
    server.close();
    return port;
}

QJsonArray parseMessages(const QStringList& paths) {
    static const char script[] = R"PY(
import json, sys
from email import policy
from email.parser import BytesParser
out = []
for path in sys.argv[1:]:
    with open(path, "rb") as f:
        m = BytesParser(policy=policy.default).parse(f)
    defects = 0
    parts, attachments, cids = [], [], []
    text = html = None
    for p in m.walk():
        defects += len(p.defects)
        parts.append(p.get_content_type())
        if p.get("Content-ID"):
            cids.append(str(p["Content-ID"]))
        fn = p.get_filename()
        if fn and p.get_content_disposition() == "attachment":
            attachments.append(fn)
        if p.get_content_type() == "text/plain" and text is None and not p.is_multipart():
            text = p.get_content()
        if p.get_content_type() == "text/html" and html is None:
            html = p.get_content()
    out.append({"subject": str(m["Subject"] or ""), "from": str(m["From"] or ""),
                "to": str(m["To"] or ""), "message_id": str(m["Message-ID"] or ""),
                "content_type": m.get_content_type(), "defects": defects,
                "text": text, "html": html, "parts": parts,
                "attachments": attachments, "cids": cids})
print(json.dumps(out))
)PY";
    const ProcessResult r = runPython(QString::fromUtf8(script), paths, {}, 120000);
    if (r.exitCode != 0) {
        qWarning("python email parse failed: %s", r.err.constData());
        return {};
    }
    return QJsonDocument::fromJson(r.out).array();
}

SendWorld::SendWorld() {
    folders.userDataFolder = env.makeFolder(QStringLiteral("data/Postwick"));
    folders.workingCopyFolder = env.root() + QStringLiteral("state/Postwick/");
    store = std::make_unique<db::TDbData>(folders);
}

bool SendWorld::createDatabase(int count, const std::function<QString(int)>& address) {
    const QString path = store->MakeWorkingCopyPath();
    if (store->CreateDatabase(path) != db::CreateResult::Created)
        return false;
    if (!store->Open())
        return false;
    try {
        for (int i = 0; i < count; ++i) {
            const int id = i + 1;
            const QString a = address ? address(i) : QStringLiteral("rcpt%1@example.jp").arg(id);
            pw::test::execute(
                *store,
                QStringLiteral("insert into MAILS (ID, SENDED, SENDING, ADDRESS, NAME, FIELD3) "
                               "values (%1, 0, 1, %2, 'Name %1', 'value-%1')")
                    .arg(id)
                    .arg(QLatin1Char('\'') +
                         QString(a).replace(QLatin1Char('\''), QStringLiteral("''")) +
                         QLatin1Char('\'')));
        }
    } catch (const db::StoreError& e) {
        qWarning("insert failed: %s", e.what());
        return false;
    }
    store->SetModified();
    return store->Save(db::SaveMode::Retaining);
}

QList<int> SendWorld::sentFlags() {
    QList<int> flags;
    try {
        store->Records().ForEachRecord(db::RecordView::Committed, db::RecordOrder::ById, 0,
                                       [&](const db::StoredRecord& record) {
                                           flags.append(record.sent);
                                           return true;
                                       });
    } catch (const db::StoreError& e) {
        qWarning("sent flags: %s", e.what());
    }
    return flags;
}

}  // namespace pw::test
