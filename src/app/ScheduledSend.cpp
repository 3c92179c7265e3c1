#include "app/ScheduledSend.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTimeZone>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>

namespace pw::app {

namespace {

constexpr char kPrefix[] = "postwick-send-";
constexpr char kProjectComment[] = "# Project=";

// A word of ExecStart: quoted, with what systemd would read otherwise escaped.
QString execWord(const QString& text) {
    QString out = text;
    out.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    out.replace(QLatin1Char('"'), QLatin1String("\\\""));
    out.replace(QLatin1Char('%'), QLatin1String("%%"));
    out.replace(QLatin1Char('$'), QLatin1String("$$"));
    return QLatin1Char('"') + out + QLatin1Char('"');
}

bool writeUnit(const QString& path, const QString& text) {
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text.toUtf8()) >= 0 && file.commit();
}

QString folderOf(const QString& unitFolder) {
    return unitFolder.endsWith(QLatin1Char('/')) ? unitFolder : unitFolder + QLatin1Char('/');
}

QByteArray markPath(const QString& stateFolder, const QString& project) {
    const QFileInfo info(project);
    const QString path =
        info.canonicalFilePath().isEmpty() ? info.absoluteFilePath() : info.canonicalFilePath();
    return QFile::encodeName(
        folderOf(stateFolder) + QStringLiteral("project-") +
        QString::fromLatin1(
            QCryptographicHash::hash(path.toUtf8(), QCryptographicHash::Sha1).toHex()) +
        QStringLiteral(".open"));
}

}  // namespace

CProjectOpenMark::~CProjectOpenMark() {
    // the last window that shows the project takes its mark away
    if (::flock(m_fd, LOCK_EX | LOCK_NB) == 0)
        ::unlink(m_path.constData());
    ::close(m_fd);  // releases the lock
}

std::unique_ptr<CProjectOpenMark> CProjectOpenMark::hold(const QString& stateFolder,
                                                         const QString& project) {
    QByteArray path = markPath(stateFolder, project);
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return nullptr;
    // shared: two windows may show the same project; a run asks for it alone
    if (::flock(fd, LOCK_SH | LOCK_NB) != 0) {
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<CProjectOpenMark>(new CProjectOpenMark(fd, project, std::move(path)));
}

bool projectOpenInWindow(const QString& stateFolder, const QString& project) {
    const int fd = ::open(markPath(stateFolder, project).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;  // no window ever marked it
    const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return held;
}

SystemctlRunner userSystemctl() {
    return [](const QStringList& arguments) {
        QProcess p;
        p.start(QStringLiteral("systemctl"), QStringList{QStringLiteral("--user")} + arguments);
        if (!p.waitForFinished(30000))
            return -1;
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    };
}

QString userUnitFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/systemd/user/");
}

ScheduleResult scheduleSend(const QString& unitFolder, const QString& program,
                            const QString& project, const QDateTime& when,
                            const SystemctlRunner& systemctl) {
    const QString folder = folderOf(unitFolder);
    const QString absolute = QFileInfo(project).absoluteFilePath();
    const QString id = QString::fromLatin1(
        QCryptographicHash::hash(absolute.toUtf8(), QCryptographicHash::Sha1).toHex().left(12));
    const QString base = QString::fromLatin1(kPrefix) + id;
    const QString name = QFileInfo(absolute).fileName();
    const QString at =
        when.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) + QStringLiteral(" UTC");
    const QString service = QStringLiteral(
                                "[Unit]\nDescription=Postwick: the rest of %1\n\n"
                                "[Service]\nType=oneshot\nEnvironment=%4=%5\n"
                                "ExecStart=%2 --send %3 --selection unsent\n")
                                .arg(name, execWord(program), execWord(absolute),
                                     QString::fromLatin1(kScheduledWaitVariable),
                                     QString::number(kScheduledWaitSeconds));
    const QString timer = QString::fromLatin1(kProjectComment) + absolute +
                          QStringLiteral(
                              "\n[Unit]\nDescription=Postwick: the rest of %1\n\n"
                              "[Timer]\nOnCalendar=%2\nPersistent=true\n\n"
                              "[Install]\nWantedBy=timers.target\n")
                              .arg(name, at);
    if (!QDir().mkpath(folder) || !writeUnit(folder + base + QStringLiteral(".service"), service) ||
        !writeUnit(folder + base + QStringLiteral(".timer"), timer))
        return ScheduleResult::FolderUnwritable;
    if (systemctl({QStringLiteral("daemon-reload")}) != 0 ||
        systemctl({QStringLiteral("enable"), QStringLiteral("--now"),
                   base + QStringLiteral(".timer")}) != 0) {
        // nothing scheduled: no units are left that would start it at the next log-in
        QFile::remove(folder + base + QStringLiteral(".timer"));
        QFile::remove(folder + base + QStringLiteral(".service"));
        return ScheduleResult::SchedulerRefused;
    }
    return ScheduleResult::Scheduled;
}

QList<ScheduledSend> scheduledSends(const QString& unitFolder) {
    QList<ScheduledSend> list;
    const QDir dir(folderOf(unitFolder));
    for (const QString& unit :
         dir.entryList({QString::fromLatin1(kPrefix) + QStringLiteral("*.timer")}, QDir::Files)) {
        QFile file(dir.filePath(unit));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        ScheduledSend s;
        s.unit = unit;
        for (const QString& line : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'))) {
            if (line.startsWith(QLatin1String(kProjectComment)))
                s.project = line.mid(int(qstrlen(kProjectComment)));
            else if (line.startsWith(QLatin1String("OnCalendar="))) {
                s.when = QDateTime::fromString(line.mid(11).chopped(4),
                                               QStringLiteral("yyyy-MM-dd HH:mm:ss"));
                s.when.setTimeSpec(Qt::UTC);  // written in UTC
            }
        }
        if (!s.project.isEmpty())
            list.append(s);
    }
    std::sort(list.begin(), list.end(),
              [](const ScheduledSend& a, const ScheduledSend& b) { return a.when < b.when; });
    return list;
}

std::optional<ScheduledSend> scheduledSendOf(const QString& unitFolder, const QString& project) {
    const QString absolute = QFileInfo(project).absoluteFilePath();
    for (const ScheduledSend& s : scheduledSends(unitFolder))
        if (s.project == absolute)
            return s;
    return std::nullopt;
}

bool cancelScheduledSend(const QString& unitFolder, const QString& unit,
                         const SystemctlRunner& systemctl) {
    const QString folder = folderOf(unitFolder);
    if (!unit.startsWith(QLatin1String(kPrefix)) || !unit.endsWith(QLatin1String(".timer")) ||
        unit.contains(QLatin1Char('/')) || !QFile::exists(folder + unit))
        return false;
    (void)systemctl({QStringLiteral("disable"), QStringLiteral("--now"), unit});
    QFile::remove(folder + unit);
    QFile::remove(folder + unit.chopped(6) + QStringLiteral(".service"));
    (void)systemctl({QStringLiteral("daemon-reload")});
    return true;
}

}  // namespace pw::app
