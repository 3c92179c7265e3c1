#include "send/SendLog.h"

#include <QFile>
#include <QMutexLocker>

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
            QFile file(m_path);
            // A log that cannot be written loses the entry; the run goes on regardless.
            if (file.open(QIODevice::WriteOnly | QIODevice::Append)) {
                file.write((line + QStringLiteral("\r\n")).toUtf8());
                file.close();
            }
        }
    }
    if (feed)
        feed(line);
}

}  // namespace pw::send
