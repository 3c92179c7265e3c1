// Sends a 20000-recipient project (merged text body, HTML with two inline
// pictures, one 100 KB attachment) with "postwick --send" to Postfix's
// smtp-sink on loopback, "SendWait" 0, then the same mails with Python's
// smtplib and email package, and prints both rates, their ratio and Postwick's
// peak memory.
//
//   bench_send_throughput [RECIPIENTS]     (default 20000)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QThread>
#include <cstdio>

#include "ScriptedUserInteraction.h"
#include "TestEnv.h"
#include "app/AppFolders.h"
#include "app/IniFile.h"
#include "app/Settings.h"
#include "compose/MailFile.h"
#include "db/IBPP.h"
#include "db/TDbData.h"

namespace {

void put(const QString& path, const QByteArray& bytes) {
    if (!pw::test::writeFile(path, bytes))
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
}

int freePort() {
    QTcpServer s;
    if (!s.listen(QHostAddress::LocalHost, 0))
        return 0;
    return s.serverPort();
}

QByteArray randomBytes(int n) {
    QByteArray b(n, Qt::Uninitialized);
    QRandomGenerator gen(42);
    for (int i = 0; i < n; ++i)
        b[i] = char(gen.bounded(256));
    return b;
}

struct ChildRun {
    int status = -1;
    double seconds = 0;
    long maxRssKb = 0;
};

// fork/exec with wait4, so that the child's own peak memory is known.
ChildRun runChild(const QStringList& command, const QString& outputFile) {
    ChildRun r;
    QList<QByteArray> args;
    for (const QString& a : command)
        args.append(QFile::encodeName(a));
    std::vector<char*> argv;
    for (QByteArray& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const QByteArray out = QFile::encodeName(outputFile);
    QElapsedTimer timer;
    timer.start();
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (FILE* f = std::freopen(out.constData(), "w", stdout))
            (void)f;
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    struct rusage usage {};
    ::wait4(pid, &status, 0, &usage);
    r.seconds = double(timer.nsecsElapsed()) / 1e9;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.maxRssKb = usage.ru_maxrss;
    return r;
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1, QByteArray(argv[1]).toInt()) : 20000;
    pw::test::TestEnv env;
    pw::test::ScriptedUserInteraction ui;

    const pw::app::AppFolders folders =
        pw::app::DetermineFolders(QStringLiteral(POSTWICK_BINARY).section('/', 0, -2) + '/');
    QDir().mkpath(folders.userDataFolder);
    const QString data = env.makeFolder(QStringLiteral("benchdata"));
    const QString preview = env.makeFolder(QStringLiteral("preview"));

    // ---- the recipients ----
    pw::db::TDbData store({folders.userDataFolder, folders.workingCopyFolder}, ui);
    const QString copy = store.MakeWorkingCopyPath();
    if (store.CreateDatabase(copy) != pw::db::CreateResult::Created || !store.Open()) {
        std::fprintf(stderr, "cannot create the database\n");
        return 1;
    }
    QByteArray tsv;
    {
        IBPP::Statement st = IBPP::StatementFactory(store.Database(), store.MainTransaction());
        st->Prepare(
            "insert into MAILS (ID, SENDED, SENDING, ADDRESS, NAME, "
            "FIELD3) values (?, 0, 1, ?, ?, ?)");
        for (int i = 1; i <= count; ++i) {
            const QByteArray address = "rcpt" + QByteArray::number(i) + "@example.jp";
            const QByteArray name = "Customer " + QByteArray::number(i);
            const QByteArray code = "C-" + QByteArray::number(100000 + i);
            st->Set(1, int32_t(i));
            st->Set(2, address.toStdString());
            st->Set(3, name.toStdString());
            st->Set(4, code.toStdString());
            st->Execute();
            tsv += address + '\t' + name + '\t' + code + '\n';
        }
    }
    store.SetModified();
    if (!store.Save(pw::db::SaveMode::Ending))
        return 1;
    store.Close(pw::db::CloseMode::KeepWorkingCopy);

    // ---- the mail ----
    const QString subject = QStringLiteral("Your order [[field3]]");
    const QString body = QStringLiteral(
        "Dear [[Name]],\r\n\r\nthank you for your order [[field3]].\r\nWe will "
        "send it to "
        "[[Mail Address]] when it is ready.\r\n\r\nKind regards\r\nThe shop\r\n");
    const QByteArray html =
        "<html><body><p>Dear [[Name]],</p><p>your order [[field3]] is on its "
        "way.</p>"
        "<img src=\"logo.png\"><img src=\"photo.png\"></body></html>\r\n";
    put(preview + "index.html", html);
    put(preview + "logo.png", randomBytes(8 * 1024));
    put(preview + "photo.png", randomBytes(24 * 1024));
    const QString attachment = data + "catalogue.pdf";
    put(attachment, randomBytes(100 * 1024));
    put(data + "recipients.tsv", tsv);
    put(data + "subject.txt", subject.toUtf8());
    put(data + "body.txt", body.toUtf8());
    put(data + "index.html", html);
    put(data + "logo.png", randomBytes(8 * 1024));
    put(data + "photo.png", randomBytes(24 * 1024));
    put(data + "pictures.txt", "logo.png photo.png\n");
    put(data + "attachment.txt", "catalogue.pdf\n");

    pw::MailDocument doc;
    doc.senderAddress = QStringLiteral("sender@example.jp");
    doc.senderName = QStringLiteral("Bench Sender");
    doc.subject = subject;
    doc.recipientText = QStringLiteral("[[Mail Address]]");
    doc.textBody = body;
    doc.attachments = {attachment};
    doc.htmlTemplateName = QStringLiteral("bench");
    doc.pictureList = {QStringLiteral("index.html"), QStringLiteral("logo.png"),
                       QStringLiteral("photo.png")};
    const QString project = env.root() + "bench.pzy";
    pw::ProjectWriteOptions options;
    options.previewFolder = preview;
    options.workingCopyPath = copy;
    const pw::WriteResult written = pw::writeProjectFile(project, doc, {}, options, nullptr);
    QFile::remove(copy);
    if (!written.ok()) {
        std::fprintf(stderr, "cannot write the project: %s\n", qPrintable(written.message));
        return 1;
    }

    // ---- the sink and the settings ----
    const int port = freePort();
    QProcess sink;
    QStringList sinkArgs;
    if (::getuid() == 0)
        sinkArgs << QStringLiteral("-u") << QStringLiteral("nobody");  // it refuses root
    sinkArgs << QStringLiteral("127.0.0.1:%1").arg(port) << QStringLiteral("256");
    sink.start(QStringLiteral("/usr/sbin/smtp-sink"), sinkArgs);
    if (!sink.waitForStarted(5000)) {
        std::fprintf(stderr, "smtp-sink does not start\n");
        return 1;
    }
    QThread::msleep(300);
    pw::app::CIniFile ini(folders.settingsPath(QStringLiteral("postwick")));
    (void)ini.Load();
    pw::app::Settings settings = pw::app::ReadSettings(ini);
    settings.smtpServer = QStringLiteral("127.0.0.1");
    settings.smtpPort = port;
    settings.smtpAuthType = 0;
    settings.smtpConnectionType = 0;
    settings.sendWait = 0;
    settings.oneTimeSend = 100;
    settings.encode = 0;
    pw::app::WriteSettings(ini, settings);
    if (!ini.Save())
        return 1;

    // ---- Postwick ----
    const ChildRun pw =
        runChild({QStringLiteral(POSTWICK_BINARY), QStringLiteral("--send"), project},
                 env.root() + "postwick.out");
    if (pw.status != 0) {
        std::fprintf(stderr, "postwick --send ended with %d\n", pw.status);
        return 1;
    }
    // ---- Python ----
    const ChildRun py = runChild(
        {QStringLiteral(POSTWICK_PYTHON), QStringLiteral(POSTWICK_BENCH_DIR "/python_sender.py"),
         data, QStringLiteral("127.0.0.1"), QString::number(port)},
        env.root() + "python.out");
    sink.kill();
    sink.waitForFinished(3000);
    if (py.status != 0) {
        std::fprintf(stderr, "the python sender ended with %d\n", py.status);
        return 1;
    }
    const double pwRate = count / pw.seconds;
    const double pyRate = count / py.seconds;
    std::printf("recipients: %d mails\n", count);
    std::printf("postwick_send_rate: %.1f mails/s\n", pwRate);
    std::printf("python_smtplib_rate: %.1f mails/s\n", pyRate);
    std::printf("rate_ratio: %.2f x\n", pwRate / pyRate);
    std::printf("postwick_peak_memory: %.1f MB\n", double(pw.maxRssKb) / 1024.0);
    return 0;
}
