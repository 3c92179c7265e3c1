#pragma once
// Layout constants of the mail file container, shared by its reader and writer.

#include <QByteArray>
#include <QtGlobal>

namespace pw::mailfile {

inline constexpr qsizetype kSlotSize = 256;
inline constexpr qsizetype kSlotTextMax = kSlotSize - 1;  // a slot ends with at least one zero
inline constexpr qsizetype kShortTextMax = 0xFFFF;        // 2-byte lengths
inline constexpr qint64 kLongTextMax = 0xFFFFFFFFLL;      // 4-byte lengths

inline constexpr char kKindOldTemplate = 'A';
inline constexpr char kKindProject = 'D';
inline constexpr char kKindTemplate = 'E';
inline constexpr char kTagPrefix[] = "mlD";  // the writer's first three bytes; never compared
// Some files carry their tag behind a prefix of this size.
inline constexpr qint64 kPrefixSize = 128;

inline constexpr qsizetype kProjectHeaderSize = 16;
inline constexpr qsizetype kTemplateHeaderSize = 14;

// Project settings block
inline constexpr qsizetype kProjectSettingsSize = 1638;
inline constexpr qsizetype kProjectSmtpSlot = 256;
inline constexpr qsizetype kProjectPopSlot = 512;
inline constexpr qsizetype kProjectPasswordSlot = 768;
inline constexpr qsizetype kProjectUserSlot = 1024;
inline constexpr qsizetype kProjectReservedFlag = 1620;
inline constexpr qsizetype kProjectSetDateFlag = 1622;
inline constexpr qsizetype kProjectYear = 1624;  // then month, day, hour, minute, second
inline constexpr qsizetype kProjectHeaderTimeFlag = 1636;

// Template settings block
inline constexpr qsizetype kTemplateSettingsSize = 6740;
inline constexpr qsizetype kTemplateSmtpSlot = 5376;
inline constexpr qsizetype kTemplatePopSlot = 5632;
inline constexpr qsizetype kTemplatePasswordSlot = 5888;
inline constexpr qsizetype kTemplateUserSlot = 6144;

inline constexpr char kAttachmentTag[] = "win";
inline constexpr qsizetype kAttachmentTagSize = 3;

inline constexpr char kFileTag[] = "FILE";
inline constexpr qsizetype kFileHeadSize = 269;  // tag, name slot, mark, stored and full length
inline constexpr char kDatabaseTag[] = "DBYF";
// A record beside the HTML files naming the list on a database server ("connection\nuser",
// UTF-8); readers that know only "FILE" records pass over it.
inline constexpr char kServerListTag[] = "SRVL";
inline constexpr qsizetype kServerListMax = 1024;

inline constexpr quint16 kNoLocalTime = 0xFFFF;

inline void putU16(QByteArray& out, quint32 value) {
    out.append(static_cast<char>((value >> 8) & 0xFF));
    out.append(static_cast<char>(value & 0xFF));
}

inline void putU32(QByteArray& out, quint64 value) {
    out.append(static_cast<char>((value >> 24) & 0xFF));
    out.append(static_cast<char>((value >> 16) & 0xFF));
    out.append(static_cast<char>((value >> 8) & 0xFF));
    out.append(static_cast<char>(value & 0xFF));
}

// The text zero-padded to a full slot; the caller has checked that it fits.
inline void putSlot(QByteArray& out, const QByteArray& text) {
    Q_ASSERT(text.size() <= kSlotTextMax);
    out.append(text.left(kSlotTextMax));
    out.append(QByteArray(kSlotSize - qMin(text.size(), kSlotTextMax), '\0'));
}

inline quint16 getU16(const char* p) {
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    return static_cast<quint16>((b[0] << 8) | b[1]);
}

inline quint32 getU32(const char* p) {
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    return (quint32(b[0]) << 24) | (quint32(b[1]) << 16) | (quint32(b[2]) << 8) | quint32(b[3]);
}

// A slot's text: its bytes up to the first zero (all of them when there is none).
inline QByteArray slotText(const char* slot) {
    return QByteArray(slot, qstrnlen(slot, kSlotSize));
}

}  // namespace pw::mailfile
