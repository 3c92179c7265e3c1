#pragma once
// Encoded bodies of file parts, shared by every message of the process: a run that attaches
// one file to 20000 mails encodes it once. The file is opened and checked at every render
// (an entry counts only while the file's size and modification time are unchanged), except
// within a RunScope, where a file checked once is taken as it was for the rest of the scope.

#include "smtp/KTWSMTPBodyPart.h"

#include <QByteArray>
#include <QString>

namespace pw::smtp {

class EncodedFileCache {
public:
    // Largest file that is attached or embedded: far beyond what mail servers take, and a
    // bound on the memory one part can cost.
    static constexpr qint64 kMaxFileBytes = 64LL * 1024 * 1024;

    // The encoded body of the file at path. Throws CKTWSMTPException with the system error
    // code when the file cannot be opened or read (2 when it is missing), is no regular file
    // (EINVAL; EISDIR for a folder) or is larger than kMaxFileBytes (EFBIG).
    [[nodiscard]] static QByteArray encodedFile(const QString& path, TransferEncoding encoding);

    // On the thread that renders a send run's messages, for the length of the run: a file is
    // opened and checked at its first render only.
    class RunScope {
    public:
        RunScope();
        ~RunScope();
        RunScope(const RunScope&) = delete;
        RunScope& operator=(const RunScope&) = delete;

    private:
        quint64 m_outer;
    };

    struct Stats {
        qint64 hits = 0;
        qint64 misses = 0;
        qint64 bytes = 0;  // encoded bytes held
    };
    [[nodiscard]] static Stats stats();
    static void clear();
    // Entries are dropped, least recently used first, beyond this many encoded bytes.
    static void setCapacity(qint64 bytes);
};

}  // namespace pw::smtp
