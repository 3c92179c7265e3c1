#include "serversettings/ServerProfiles.h"

#include "compose/PasswordScrambling.h"

namespace pw::serversettings {
namespace {

constexpr int kFieldCount = 12;

// The C runtime's atoi over the stored text: leading blanks, a sign, digits.
int toInt(const QString& text) {
    qsizetype i = 0;
    while (i < text.size() && (text[i] == QLatin1Char(' ') || text[i] == QLatin1Char('\t')))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == QLatin1Char('-') || text[i] == QLatin1Char('+'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    qint64 value = 0;
    for (; i < text.size() && text[i] >= QLatin1Char('0') && text[i] <= QLatin1Char('9'); ++i) {
        value = value * 10 + (text[i].unicode() - '0');
        if (value > 0x7fffffff)
            value = 0x7fffffff;
    }
    return int(negative ? -value : value);
}

QString scramble(const QString& password) {
    return QString::fromLatin1(scramblePassword(password.toUtf8()));
}

QString unscramble(const QString& stored) {
    return QString::fromUtf8(unscramblePassword(stored.toLatin1()));
}

QString quoted(const QString& field) {
    if (!field.contains(QLatin1Char(',')) && !field.contains(QLatin1Char('"')))
        return field;
    QString out = field;
    out.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + out + QLatin1Char('"');
}

// Fields with quoted ones taken whole; none when the line is not of that form.
std::optional<QStringList> splitQuoted(const QString& line) {
    QStringList fields;
    qsizetype i = 0;
    for (;;) {
        QString field;
        if (i < line.size() && line[i] == QLatin1Char('"')) {
            ++i;
            bool closed = false;
            while (i < line.size()) {
                if (line[i] == QLatin1Char('"')) {
                    if (i + 1 < line.size() && line[i + 1] == QLatin1Char('"')) {
                        field += QLatin1Char('"');
                        i += 2;
                        continue;
                    }
                    closed = true;
                    ++i;
                    break;
                }
                field += line[i++];
            }
            if (!closed || (i < line.size() && line[i] != QLatin1Char(',')))
                return std::nullopt;
        } else {
            const qsizetype comma = line.indexOf(QLatin1Char(','), i);
            const qsizetype end = comma < 0 ? line.size() : comma;
            field = line.mid(i, end - i);
            i = end;
        }
        fields << field;
        if (i >= line.size())
            return fields;
        ++i;  // the comma
    }
}

QStringList splitLegacy(const QString& line) {
    QStringList fields = line.split(QLatin1Char(','));
    for (QString& f : fields) {
        if (f.startsWith(QLatin1Char('"')))
            f.remove(0, 1);
        if (f.endsWith(QLatin1Char('"')))
            f.chop(1);
    }
    return fields;
}

}  // namespace

QString formatServerProfile(const ServerProfile& p) {
    const QStringList fields{quoted(p.from),
                             quoted(p.name),
                             quoted(p.smtpServer),
                             quoted(p.popServer),
                             quoted(p.userId),
                             scramble(p.password),
                             QString::number(p.smtpPort),
                             QString::number(storedNumber(p.smtpVerifMethod)),
                             QString::number(storedNumber(p.smtpAuthType)),
                             quoted(p.smtpUserName),
                             scramble(p.smtpPassword),
                             QString::number(storedNumber(p.smtpConnectionType))};
    return fields.join(QLatin1Char(','));
}

ServerProfile parseServerProfile(const QString& line) {
    QStringList fields = splitQuoted(line).value_or(splitLegacy(line));
    while (fields.size() < kFieldCount)
        fields << QString();
    ServerProfile p;
    p.from = fields[0];
    p.name = fields[1];
    p.smtpServer = fields[2];
    p.popServer = fields[3];
    p.userId = fields[4];
    p.password = unscramble(fields[5]);
    p.smtpPort = fields[6].isEmpty() ? 25 : toInt(fields[6]);
    if (p.smtpPort <= 0 || p.smtpPort > 65535)
        p.smtpPort = 25;
    readStored(fields[7].isEmpty() ? storedNumber(VerifMethod::Automatic) : toInt(fields[7]),
               p.smtpVerifMethod);
    readStored(toInt(fields[8]), p.smtpAuthType);
    p.smtpUserName = fields[9];
    p.smtpPassword = unscramble(fields[10]);
    readStored(toInt(fields[11]), p.smtpConnectionType);
    return p;
}

CServerList::AddResult CServerList::add(const ServerProfile& profile) {
    if (size() >= kMaxProfiles)
        return AddResult::Full;
    // held as it is stored: without what a profile does not keep
    ServerProfile kept = profile;
    kept.authType = ServerProfile{}.authType;
    kept.acceptUnverifiedCertificate = false;
    m_profiles.append(kept);
    return AddResult::Added;
}

bool CServerList::remove(int index) {
    if (index < 0 || index >= size())
        return false;
    m_profiles.removeAt(index);
    return true;
}

CServerList CServerList::fromLines(const QStringList& lines) {
    CServerList list;
    for (qsizetype i = 0; i < lines.size() && i < kMaxStored; ++i)
        list.m_profiles.append(parseServerProfile(lines[i]));
    return list;
}

QStringList CServerList::toLines() const {
    QStringList lines;
    for (const ServerProfile& p : m_profiles)
        lines << formatServerProfile(p);
    return lines;
}

}  // namespace pw::serversettings
