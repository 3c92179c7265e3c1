#include "smtp/EncodedFileCache.h"

#include "smtp/KTWSMTPException.h"
#include "smtp/MimeEncoding.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>

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
};

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

QByteArray EncodedFileCache::encodedFile(const QString& path, TransferEncoding encoding) {
    QFile file(path);
    errno = 0;
    if (!file.open(QIODevice::ReadOnly)) {
        const int code = errno;
        fail(code != 0 ? code : (QFileInfo::exists(path) ? EACCES : ENOENT));
    }
    if (QFileInfo(path).isDir()) {
        fail(EISDIR);
    }
    // Size and time of the opened file, so that the check and the bytes are of one file.
    const qint64 size = file.size();
    const qint64 modified = file.fileTime(QFileDevice::FileModificationTime).toMSecsSinceEpoch();
    const QString key = QString::number(static_cast<int>(encoding)) + QLatin1Char(':') + path;

    Cache& c = cache();
    {
        QMutexLocker lock(&c.mutex);
        for (auto it = c.entries.begin(); it != c.entries.end(); ++it) {
            if (it->key == key) {
                if (it->size == size && it->modified == modified) {
                    ++c.stats.hits;
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
    QByteArray raw = file.readAll();
    if (file.error() != QFileDevice::NoError || raw.size() != size) {
        const int code = errno;
        fail(code != 0 ? code : EIO);
    }
    QByteArray encoded = encode(raw, encoding);
    raw.clear();

    QMutexLocker lock(&c.mutex);
    if (encoded.size() <= c.capacity) {
        c.entries.push_front(Entry{key, size, modified, encoded});
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
