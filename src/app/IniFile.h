#pragma once
// The settings file: INI style, text in the system code page (UTF-8), lines ending in CR LF.
//
// Every writer loads the whole file, changes the keys it owns and saves the whole file, so
// sections, keys and comments it does not know survive. Names compare case-insensitively
// (ASCII) and keep the spelling under which they were first added.

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

namespace pw {
class IUserInteraction;
}

namespace pw::app {

class CIniFile {
public:
    enum class Create { IfMissing, No };

    explicit CIniFile(QString path);

    // Reads the file into the (empty) model. False if the file cannot be read, when a line
    // starts with an unprintable character (loading stops there, what came before is kept),
    // or when no section was found.
    [[nodiscard]] bool Load();
    // Writes the whole model; the file is replaced only once completely written and is
    // readable by its owner only (it holds passwords). A file that exists but could not be
    // read by Load is never written over (false): it holds settings this model lacks.
    [[nodiscard]] bool Save() const;
    // Save, telling the user when the file cannot be written. A file left unread at start was
    // reported then and is never written over, so it is not told again.
    void SaveTelling(IUserInteraction& ui) const;

    enum class LoadStatus {
        NotLoaded,
        Loaded,      // read (possibly without any section)
        Missing,     // no file: the defaults apply, and Save creates it
        Unreadable,  // the file is there but cannot be opened or is no settings file
    };
    [[nodiscard]] LoadStatus loadStatus() const { return m_loadStatus; }
    // Why the last Load found the file unreadable (the system's reason, or the line).
    [[nodiscard]] const QString& loadFailure() const { return m_loadFailure; }

    [[nodiscard]] int FindSection(const QString& name) const;
    [[nodiscard]] int FindKey(int section, const QString& key) const;
    int AddSection(const QString& name);

    [[nodiscard]] QString GetText(const QString& section, const QString& key,
                                  const QString& defaultText) const;
    [[nodiscard]] int GetInt(const QString& section, const QString& key, int defaultValue) const;
    [[nodiscard]] bool GetBool(const QString& section, const QString& key, bool defaultValue) const;

    bool SetText(const QString& section, const QString& key, const QString& value,
                 Create create = Create::IfMissing);
    bool SetInt(const QString& section, const QString& key, int value,
                Create create = Create::IfMissing);
    bool SetBool(const QString& section, const QString& key, bool value,
                 Create create = Create::IfMissing);
    bool RemoveKey(const QString& section, const QString& key);
    // The key names of a section in file order (none when it is missing).
    [[nodiscard]] QStringList KeyNames(const QString& section) const;

    [[nodiscard]] const QString& path() const { return m_path; }
    // The file as Save would write it.
    [[nodiscard]] QByteArray serialize() const;

private:
    struct Key {
        QByteArray name;
        QByteArray value;
    };
    struct Section {
        QByteArray name;
        QList<Key> keys;
        QList<QByteArray> comments;
        QHash<QByteArray, int> index;  // lower-case name -> position in keys
    };

    [[nodiscard]] int findSection(const QByteArray& name) const;
    [[nodiscard]] int findKey(const Section& s, const QByteArray& key) const;
    int addSection(const QByteArray& name);
    void setValue(int section, const QByteArray& key, const QByteArray& value);
    [[nodiscard]] const QByteArray* value(const QString& section, const QString& key) const;

    QString m_path;
    QList<Section> m_sections;
    QHash<QByteArray, int> m_sectionIndex;  // lower-case name -> position in m_sections
    QList<QByteArray> m_headerComments;
    LoadStatus m_loadStatus = LoadStatus::NotLoaded;
    QString m_loadFailure;
};

// The C runtime's atoi: leading blanks, optional sign, digits up to the first other
// character; no digits give 0. Saturates instead of overflowing.
[[nodiscard]] int atoiLike(const QByteArray& text);

// The stored passwords' scrambling (compose/PasswordScrambling.h) over the settings file's
// text: "abc" becomes "362616".
[[nodiscard]] QString ScramblePassword(const QString& password);
[[nodiscard]] QString UnscramblePassword(const QString& stored);

}  // namespace pw::app
