#include "send/SendLog.h"

#include <fcntl.h>
#include <unistd.h>
#include <QFile>
#include <QMutexLocker>
#include <cerrno>
#include <cstring>

namespace pw::send {

CSendLog& CSendLog::instance() {
    static CSendLog log;
    return log;
}

void CSendLog::setPath(const QString& path) {
    QMutexLocker lock(&m_mutex);
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

void CSendLog::reset() {
    ClearListener clear;
    {
        QMutexLocker lock(&m_mutex);
        if (!m_path.isEmpty())
            QFile::remove(m_path);
        m_writeFailure.clear();
        if (m_viewReady && m_logView)
            clear = m_onClear;
    }
    if (clear)
        clear();
}

void CSendLog::append(const QString& text) {
    const QString line = formatEntry(QDateTime::currentDateTime(), text);
    LineListener feed;
    {
        // The file is written under the lock so that entries from two threads never interleave.
        QMutexLocker lock(&m_mutex);
        if (m_viewReady && m_logView)
            feed = m_onLine;
        if (m_active && !m_path.isEmpty()) {
            // A link planted where the log goes is not followed; the file is the user's alone.
            const int fd = ::open(QFile::encodeName(m_path).constData(),
                                  O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
            const QByteArray bytes = (line + QStringLiteral("\r\n")).toUtf8();
            bool written = false;
            int error = errno;
            if (fd >= 0) {
                written = ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
                error = errno;
                ::close(fd);
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
