#include "send/SendLog.h"

#include <fcntl.h>
#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QRegularExpression>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace pw::send {

CSendLog::~CSendLog() {
    closeLocked();
}

void CSendLog::closeLocked() {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

void CSendLog::closeFile() {
    QMutexLocker lock(&m_mutex);
    closeLocked();
}

void CSendLog::setPath(const QString& path) {
    QMutexLocker lock(&m_mutex);
    if (path != m_path)
        closeLocked();
    m_path = path;
}

QString CSendLog::path() const {
    QMutexLocker lock(&m_mutex);
    return m_path;
}

void CSendLog::setActive() {
    QMutexLocker lock(&m_mutex);
    m_active = true;
}

bool CSendLog::isActive() const {
    QMutexLocker lock(&m_mutex);
    return m_active;
}

void CSendLog::setView(LineListener onLine, ClearListener onClear) {
    QMutexLocker lock(&m_mutex);
    m_onLine = std::move(onLine);
    m_onClear = std::move(onClear);
}

void CSendLog::setViewReady(bool ready) {
    QMutexLocker lock(&m_mutex);
    m_viewReady = ready;
}

void CSendLog::setLogView(bool on) {
    QMutexLocker lock(&m_mutex);
    m_logView = on;
}

QString CSendLog::writeFailure() const {
    QMutexLocker lock(&m_mutex);
    return m_writeFailure;
}

bool CSendLog::logView() const {
    QMutexLocker lock(&m_mutex);
    return m_logView;
}

QString CSendLog::formatEntry(const QDateTime& when, const QString& text) {
    return when.toString(QStringLiteral("dd.MM.yyyy hh:mm:ss")) + QStringLiteral(" / ") + text;
}

namespace {

// "log" and ".txt" of ".../log.txt".
QPair<QString, QString> nameParts(const QString& path) {
    const QFileInfo info(path);
    const QString suffix = info.suffix().isEmpty() ? QString() : QLatin1Char('.') + info.suffix();
    return {info.absolutePath() + QLatin1Char('/') + info.completeBaseName(), suffix};
}

void keepPrevious(const QString& path) {
    const QFileInfo info(path);
    if (info.isSymLink() || !info.isFile()) {
        QFile::remove(path);  // a link planted there is not followed, nor kept
        return;
    }
    if (info.size() == 0) {
        QFile::remove(path);
        return;
    }
    const auto [base, suffix] = nameParts(path);
    const QString stamp = info.lastModified().toString(QStringLiteral("yyyyMMdd-hhmmss"));
    QString kept = base + QLatin1Char('-') + stamp + suffix;
    for (int n = 2; QFileInfo::exists(kept) || QFileInfo(kept).isSymLink(); ++n)
        kept = base + QLatin1Char('-') + stamp + QLatin1Char('-') + QString::number(n) + suffix;
    if (!QFile::rename(path, kept))
        QFile::remove(path);
    const QStringList all = CSendLog::keptLogs(path);
    for (qsizetype i = 0; i + CSendLog::kKeptLogs < all.size(); ++i)
        QFile::remove(all[i]);
}

}  // namespace

QStringList CSendLog::keptLogs(const QString& path) {
    const auto [base, suffix] = nameParts(path);
    const QFileInfo baseInfo(base);
    const QDir dir(baseInfo.absolutePath());
    const QRegularExpression dated(QLatin1Char('^') +
                                   QRegularExpression::escape(baseInfo.fileName()) +
                                   QStringLiteral("-(\\d{8}-\\d{6})(?:-(\\d{1,4}))?") +
                                   QRegularExpression::escape(suffix) + QLatin1Char('$'));
    // by the time stamp, then "-2", "-3" after the plain one of the same second
    std::vector<std::pair<std::pair<QString, int>, QString>> found;
    for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden)) {
        const QRegularExpressionMatch m = dated.match(name);
        if (m.hasMatch())
            found.push_back({{m.captured(1), m.captured(2).isEmpty() ? 1 : m.captured(2).toInt()},
                             dir.filePath(name)});
    }
    std::sort(found.begin(), found.end());
    QStringList out;
    for (const auto& f : found)
        out << f.second;
    return out;
}

void CSendLog::reset() {
    ClearListener clear;
    {
        QMutexLocker lock(&m_mutex);
        closeLocked();
        if (!m_path.isEmpty())
            keepPrevious(m_path);
        m_writeFailure.clear();
        if (m_viewReady && m_logView)
            clear = m_onClear;
    }
    if (clear)
        clear();
}

void CSendLog::append(const QString& text, View view) {
    // One entry is one line: a line break inside a value (an address of the database) would
    // otherwise write a forged entry of its own.
    QString flat = text;
    for (QChar& c : flat) {
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n'))
            c = QLatin1Char(' ');
    }
    const QString line = formatEntry(QDateTime::currentDateTime(), flat);
    LineListener feed;
    {
        // The file is written under the lock so that entries from two threads never interleave.
        QMutexLocker lock(&m_mutex);
        if (m_viewReady && m_logView && view == View::Shown)
            feed = m_onLine;
        if (m_active && !m_path.isEmpty()) {
            // A link planted where the log goes is not followed; the file is the user's alone.
            if (m_fd < 0)
                m_fd = ::open(QFile::encodeName(m_path).constData(),
                              O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
            const QByteArray bytes = (line + QStringLiteral("\r\n")).toUtf8();
            bool written = false;
            int error = errno;
            if (m_fd >= 0) {
                const ssize_t n = ::write(m_fd, bytes.constData(), size_t(bytes.size()));
                written = n == bytes.size();
                error = n < 0 ? errno : ENOSPC;  // a short write: the disk is full
                if (!written)
                    closeLocked();  // the next entry tries a fresh open
            }
            // The run goes on without the entry, but says so once.
            if (!written && m_writeFailure.isEmpty())
                m_writeFailure = m_path + QStringLiteral(" (") +
                                 QString::fromLocal8Bit(std::strerror(error)) + QLatin1Char(')');
        }
    }
    if (feed)
        feed(line);
}

}  // namespace pw::send
