#include "smtp/EncodedFileCache.h"

#include "smtp/KTWSMTPException.h"
#include "smtp/MimeEncoding.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <list>
#include <unordered_map>

namespace pw::smtp {
namespace {

struct Entry {
    QString key;
    qint64 size = 0;
    qint64 modified = 0;  // ms since the epoch
    QByteArray encoded;
    quint64 checkedInScope = 0;  // the run scope that last checked the file, 0 for none
};

// The run scope of this thread, 0 outside one; scope numbers are never used twice.
thread_local quint64 t_scope = 0;
std::atomic<quint64> g_lastScope{0};

struct Cache {
    QMutex mutex;
    std::list<Entry> entries;  // most recently used first
    qint64 bytes = 0;
    qint64 capacity = 128LL * 1024 * 1024;
    EncodedFileCache::Stats stats;

    void trim() {
        while (bytes > capacity && !entries.empty()) {
            bytes -= entries.back().encoded.size();
            entries.pop_back();
        }
    }
};

Cache& cache() {
    static Cache c;
    return c;
}

[[noreturn]] void fail(int code) {
    throw CKTWSMTPException::FromSystemError(code);
}

QByteArray encode(const QByteArray& raw, TransferEncoding encoding) {
    switch (encoding) {
        case TransferEncoding::Base64:
            return base64Lines(raw);
        case TransferEncoding::QuotedPrintable:
            return quotedPrintable(raw);
        case TransferEncoding::None:
            break;
    }
    return raw;
}

}  // namespace

EncodedFileCache::RunScope::RunScope() : m_outer(t_scope) {
    t_scope = ++g_lastScope;
}

EncodedFileCache::RunScope::~RunScope() {
    t_scope = m_outer;
}

QByteArray EncodedFileCache::encodedFile(const QString& path, TransferEncoding encoding) {
    const QString key = QString::number(static_cast<int>(encoding)) + QLatin1Char(':') + path;
    Cache& c = cache();
    if (t_scope != 0) {
        QMutexLocker lock(&c.mutex);
        for (auto it = c.entries.begin(); it != c.entries.end(); ++it) {
            if (it->key == key && it->checkedInScope == t_scope) {
                ++c.stats.hits;
                c.entries.splice(c.entries.begin(), c.entries, it);
                return c.entries.front().encoded;
            }
        }
    }
    // Non-blocking, so that a named pipe cannot hold the run; only a regular file is read,
    // so that a device (/dev/zero) or a pipe cannot feed it without end.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        fail(errno != 0 ? errno : EACCES);
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxFileBytes) {
        const int code = S_ISDIR(st.st_mode) ? EISDIR : S_ISREG(st.st_mode) ? EFBIG : EINVAL;
        ::close(fd);
        fail(code);
    }
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        fail(EIO);
    }
    // Size and time of the opened file, so that the check and the bytes are of one file.
    const qint64 size = st.st_size;
    const qint64 modified = qint64(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000;

    {
        QMutexLocker lock(&c.mutex);
        for (auto it = c.entries.begin(); it != c.entries.end(); ++it) {
            if (it->key == key) {
                if (it->size == size && it->modified == modified) {
                    ++c.stats.hits;
                    it->checkedInScope = t_scope;
                    c.entries.splice(c.entries.begin(), c.entries, it);
                    return c.entries.front().encoded;
                }
                c.bytes -= it->encoded.size();
                c.entries.erase(it);
                break;
            }
        }
        ++c.stats.misses;
    }

    errno = 0;
    // one byte more than expected tells a file that grew while it was read
    QByteArray raw = file.read(size + 1);
    if (file.error() != QFileDevice::NoError || raw.size() != size) {
        const int code = errno;
        fail(code != 0 ? code : EIO);
    }
    QByteArray encoded = encode(raw, encoding);
    raw.clear();

    QMutexLocker lock(&c.mutex);
    if (encoded.size() <= c.capacity) {
        c.entries.push_front(Entry{key, size, modified, encoded, t_scope});
        c.bytes += encoded.size();
        c.trim();
    }
    return encoded;
}

EncodedFileCache::Stats EncodedFileCache::stats() {
    Cache& c = cache();
    QMutexLocker lock(&c.mutex);
    Stats s = c.stats;
    s.bytes = c.bytes;
    return s;
}

void EncodedFileCache::clear() {
    Cache& c = cache();
    QMutexLocker lock(&c.mutex);
    c.entries.clear();
    c.bytes = 0;
    c.stats = {};
}

void EncodedFileCache::setCapacity(qint64 bytes) {
    Cache& c = cache();
    QMutexLocker lock(&c.mutex);
    c.capacity = bytes;
    c.trim();
}

}  // namespace pw::smtp
