#pragma once
// Builds mail files byte by byte, independently of the writer, so that tests can check the
// writer's layout and feed the reader damaged files.

#include <zlib.h>

#include <QByteArray>
#include <QList>

namespace pw::test {

class MailFileBytes {
public:
    MailFileBytes& raw(const QByteArray& bytes) {
        m_bytes.append(bytes);
        return *this;
    }
    MailFileBytes& u16(quint32 v) {
        m_bytes.append(char((v >> 8) & 0xFF)).append(char(v & 0xFF));
        return *this;
    }
    MailFileBytes& u32(quint64 v) {
        for (int shift = 24; shift >= 0; shift -= 8)
            m_bytes.append(char((v >> shift) & 0xFF));
        return *this;
    }
    MailFileBytes& slot(const QByteArray& text) {
        m_bytes.append(text.left(256));
        m_bytes.append(QByteArray(256 - qMin<qsizetype>(text.size(), 256), '\0'));
        return *this;
    }
    MailFileBytes& zeros(qsizetype n) {
        m_bytes.append(QByteArray(n, '\0'));
        return *this;
    }

    // Kind D header with its texts.
    MailFileBytes& projectHeader(const QByteArray& tag, const QList<QByteArray>& texts) {
        raw(tag);
        for (int i = 0; i < 4; ++i)
            u16(texts.value(i).size());
        u32(texts.value(4).size());
        for (int i = 0; i < 5; ++i)
            raw(texts.value(i));
        return *this;
    }
    // A 1638-byte settings block with the six time fields and flags given.
    MailFileBytes& projectSettings(const QList<quint16>& time = {0, 0, 0, 0xFFFF, 0xFFFF, 0xFFFF},
                                   bool reserved = false, bool setDate = false,
                                   bool headerTime = false) {
        zeros(256).slot("smtp.example.org").slot("pop.example.org").slot("362616").slot("user");
        zeros(340);
        u16(reserved).u16(setDate);
        for (quint16 t : time)
            u16(t);
        u16(headerTime);
        return *this;
    }
    MailFileBytes& attachments(const QByteArray& tag, quint32 count,
                               const QList<QByteArray>& paths) {
        raw(tag).u32(count);
        for (const QByteArray& p : paths)
            slot(p);
        return *this;
    }
    MailFileBytes& htmlHeader(const QByteArray& name, quint32 count) {
        slot(name).u32(count);
        return *this;
    }
    MailFileBytes& record(const QByteArray& tag, const QByteArray& name, quint8 mark,
                          const QByteArray& data, quint32 fullLength) {
        raw(tag).slot(name);
        m_bytes.append(char(mark));
        u32(data.size()).u32(fullLength);
        raw(data);
        return *this;
    }
    MailFileBytes& compressedRecord(const QByteArray& name, const QByteArray& data) {
        return record("FILE", name, 0, zlibCompress(data), data.size());
    }
    MailFileBytes& storedRecord(const QByteArray& name, const QByteArray& data) {
        return record("FILE", name, 0xFB, data, data.size());
    }
    MailFileBytes& database(const QByteArray& bytes) { return raw("DBYF").raw(bytes); }

    [[nodiscard]] const QByteArray& bytes() const { return m_bytes; }
    [[nodiscard]] qsizetype size() const { return m_bytes.size(); }

    static QByteArray zlibCompress(const QByteArray& data) {
        uLongf length = compressBound(data.size());
        QByteArray out(length, '\0');
        compress(reinterpret_cast<Bytef*>(out.data()), &length,
                 reinterpret_cast<const Bytef*>(data.constData()), data.size());
        out.resize(length);
        return out;
    }

private:
    QByteArray m_bytes;
};

// Pseudo-random bytes that no compressor can shrink.
inline QByteArray noiseBytes(qsizetype size, quint32 seed) {
    QByteArray out(size, '\0');
    quint32 x = seed ? seed : 1;
    for (qsizetype i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        out[i] = char(x & 0xFF);
    }
    return out;
}

}  // namespace pw::test
