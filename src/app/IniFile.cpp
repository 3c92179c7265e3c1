#include "app/IniFile.h"

#include "compose/PasswordScrambling.h"
#include "resources/Strings.h"
#include "resources/UserInteraction.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <cerrno>
#include <climits>
#include <cstring>

namespace pw::app {

namespace {

QByteArray narrow(const QString& s) {
    return s.toUtf8();
}

bool isPrintableC(unsigned char c) {
    return c >= 0x20 && c < 0x7f;
}

}  // namespace

int atoiLike(const QByteArray& text) {
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    long long v = 0;
    while (i < n && text[i] >= '0' && text[i] <= '9') {
        v = v * 10 + (text[i] - '0');
        if (v > static_cast<long long>(INT_MAX) + 1)
            v = static_cast<long long>(INT_MAX) + 1;
        ++i;
    }
    if (negative)
        v = -v;
    if (v > INT_MAX)
        v = INT_MAX;
    if (v < INT_MIN)
        v = INT_MIN;
    return static_cast<int>(v);
}

CIniFile::CIniFile(QString path) : m_path(std::move(path)) {}

// Lookups go through an index by lower-case name, so that loading a file of n keys costs n
// steps, not n squared.
int CIniFile::findSection(const QByteArray& name) const {
    return m_sectionIndex.value(name.toLower(), -1);
}

int CIniFile::findKey(const Section& s, const QByteArray& key) const {
    return s.index.value(key.toLower(), -1);
}

int CIniFile::addSection(const QByteArray& name) {
    const int found = findSection(name);
    if (found >= 0)
        return found;
    m_sections.append(Section{name, {}, {}, {}});
    const int at = static_cast<int>(m_sections.size() - 1);
    m_sectionIndex.insert(name.toLower(), at);
    return at;
}

void CIniFile::setValue(int section, const QByteArray& key, const QByteArray& value) {
    Section& s = m_sections[section];
    const int k = findKey(s, key);
    if (k >= 0) {
        s.keys[k].value = value;
    } else {
        s.keys.append(Key{key, value});
        s.index.insert(key.toLower(), static_cast<int>(s.keys.size() - 1));
    }
}

bool CIniFile::Load() {
    QFile file(m_path);
    m_loadFailure.clear();
    if (!QFileInfo::exists(m_path) && !QFileInfo(m_path).isSymLink()) {
        m_loadStatus = LoadStatus::Missing;
        return false;
    }
    if (QFileInfo(m_path).isDir() || !file.open(QIODevice::ReadOnly)) {
        m_loadStatus = LoadStatus::Unreadable;
        m_loadFailure = QFileInfo(m_path).isDir() ? QString::fromLocal8Bit(std::strerror(EISDIR))
                                                  : file.errorString();
        return false;
    }
    const QByteArray content = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        m_loadStatus = LoadStatus::Unreadable;
        m_loadFailure = file.errorString();
        return false;
    }
    m_loadStatus = LoadStatus::Loaded;
    int lineNumber = 0;
    int current = -1;
    bool ok = true;
    // editors on other systems put a UTF-8 byte order mark first
    qsizetype start = content.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    while (start < content.size()) {
        qsizetype end = content.indexOf('\n', start);
        if (end < 0)
            end = content.size();
        QByteArray line = content.mid(start, end - start);
        start = end + 1;
        ++lineNumber;
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.isEmpty())
            continue;
        const auto first = static_cast<unsigned char>(line[0]);
        if (!isPrintableC(first)) {
            // Not a settings file of this program (UTF-16, binary) or damaged: what follows
            // is not read, and so the file must not be written over either.
            m_loadStatus = LoadStatus::Unreadable;
            m_loadFailure =
                str(ids::kSettingsBadLine).arg(lineNumber).arg(int(first), 2, 16, QLatin1Char('0'));
            ok = false;
            break;
        }
        qsizetype pos = -1;
        for (qsizetype i = 0; i < line.size(); ++i) {
            const char c = line[i];
            if (c == ';' || c == '#' || c == '[' || c == '=') {
                pos = i;
                break;
            }
        }
        if (pos < 0)
            continue;
        const char kind = line[pos];
        if (kind == '[') {
            const qsizetype close = line.lastIndexOf(']');
            if (close > pos)
                current = addSection(line.mid(pos + 1, close - pos - 1));
        } else if (kind == '=') {
            if (current < 0)
                current = addSection(QByteArray());
            setValue(current, line.left(pos), line.mid(pos + 1));
        } else {
            const QByteArray text = line.mid(pos + 1);
            if (current < 0)
                m_headerComments.append(text);
            else
                m_sections[current].comments.append(text);
        }
    }
    return ok && !m_sections.isEmpty();
}

QByteArray CIniFile::serialize() const {
    QByteArray out;
    for (const QByteArray& c : m_headerComments)
        out += ';' + c + "\r\n";
    if (!m_headerComments.isEmpty())
        out += "\r\n";
    for (const Section& s : m_sections) {
        out += '[' + s.name + "]\r\n";
        for (const QByteArray& c : s.comments)
            out += ';' + c + "\r\n";
        for (const Key& k : s.keys)
            out += k.name + '=' + k.value + "\r\n";
        out += "\r\n";
    }
    return out;
}

bool CIniFile::Save() const {
    if (m_loadStatus == LoadStatus::Unreadable)
        return false;
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    // Passwords live here: nobody but the owner may read the file.
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const QByteArray bytes = serialize();
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

void CIniFile::SaveTelling(IUserInteraction& ui) const {
    if (!Save() && m_loadStatus != LoadStatus::Unreadable)
        inform(ui, str(ids::kSettingsNotSaved).arg(QDir::toNativeSeparators(m_path)));
}

int CIniFile::FindSection(const QString& name) const {
    return findSection(narrow(name));
}

int CIniFile::FindKey(int section, const QString& key) const {
    if (section < 0 || section >= m_sections.size())
        return -1;
    return findKey(m_sections[section], narrow(key));
}

QStringList CIniFile::KeyNames(const QString& section) const {
    QStringList names;
    const int s = FindSection(section);
    if (s >= 0) {
        for (const Key& k : m_sections[s].keys)
            names << QString::fromUtf8(k.name);
    }
    return names;
}

int CIniFile::AddSection(const QString& name) {
    return addSection(narrow(name));
}

const QByteArray* CIniFile::value(const QString& section, const QString& key) const {
    const int s = FindSection(section);
    if (s < 0)
        return nullptr;
    const int k = FindKey(s, key);
    if (k < 0)
        return nullptr;
    return &m_sections[s].keys[k].value;
}

QString CIniFile::GetText(const QString& section, const QString& key,
                          const QString& defaultText) const {
    const QByteArray* v = value(section, key);
    return v ? QString::fromUtf8(*v) : defaultText;
}

int CIniFile::GetInt(const QString& section, const QString& key, int defaultValue) const {
    const QByteArray* v = value(section, key);
    return atoiLike(v ? *v : QByteArray::number(defaultValue));
}

bool CIniFile::GetBool(const QString& section, const QString& key, bool defaultValue) const {
    return GetInt(section, key, defaultValue ? 1 : 0) != 0;
}

bool CIniFile::SetText(const QString& section, const QString& key, const QString& value,
                       Create create) {
    int s = FindSection(section);
    if (s < 0) {
        if (create == Create::No)
            return false;
        s = AddSection(section);
    }
    if (create == Create::No && FindKey(s, key) < 0)
        return false;
    setValue(s, narrow(key), narrow(value));
    return true;
}

bool CIniFile::SetInt(const QString& section, const QString& key, int value, Create create) {
    return SetText(section, key, QString::number(value), create);
}

bool CIniFile::SetBool(const QString& section, const QString& key, bool value, Create create) {
    return SetInt(section, key, value ? 1 : 0, create);
}

bool CIniFile::RemoveKey(const QString& section, const QString& key) {
    const int s = FindSection(section);
    if (s < 0)
        return false;
    const int k = FindKey(s, key);
    if (k < 0)
        return false;
    Section& sec = m_sections[s];
    sec.keys.removeAt(k);
    sec.index.clear();
    for (int i = 0; i < sec.keys.size(); ++i)
        sec.index.insert(sec.keys[i].name.toLower(), i);
    return true;
}

QString ScramblePassword(const QString& password) {
    return QString::fromLatin1(scramblePassword(password.toUtf8()));
}

QString UnscramblePassword(const QString& stored) {
    return QString::fromUtf8(unscramblePassword(stored.toLatin1()));
}

}  // namespace pw::app
