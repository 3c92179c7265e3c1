#pragma once
// The send log: "log.txt" in the user data folder, one entry per line, and its live view.
//
// An entry is the local time as "dd.MM.yyyy hh:mm:ss", " / " and the text. The file gets
// the entry and CR LF, written straight through to the file per entry (no buffer of its own)
// so that an editor can read it between entries; it is opened at the first entry and stays
// open until the next reset, a new path or closeFile() (a run's end). Entries reach the file only
// while the log is active (set when a send run or a connection test starts, never cleared), so
// texts logged at start-up are not stored. The live view (the log window, or the terminal of the
// command line) is fed through a listener while the view is ready and "LogView" is on.
//
// Thread-safe: the send worker appends from its own thread while the interface thread may
// reset or append for a connection test.

#include <QDateTime>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <functional>

namespace pw::send {

class CSendLog {
public:
    // What the live view receives: a whole formatted line, or the request to empty itself.
    using LineListener = std::function<void(const QString& line)>;
    using ClearListener = std::function<void()>;

    CSendLog() = default;
    ~CSendLog();
    CSendLog(const CSendLog&) = delete;
    CSendLog& operator=(const CSendLog&) = delete;

    void setPath(const QString& path);
    [[nodiscard]] QString path() const;

    void setActive();
    [[nodiscard]] bool isActive() const;

    // The live view: ready once the settings are loaded; shown and fed while "LogView" is on.
    void setView(LineListener onLine, ClearListener onClear);
    void setViewReady(bool ready);
    void setLogView(bool on);
    [[nodiscard]] bool logView() const;

    // Start of every run and connection test: the previous log is kept under a dated name
    // beside it ("log-yyyyMMdd-hhmmss.txt", the time of its last entry), the newest
    // kKeptLogs of them, so that what a run recorded (a mail that may have been delivered)
    // outlives the next run.
    void reset();
    static constexpr int kKeptLogs = 10;
    // The kept logs of `path`, oldest first.
    [[nodiscard]] static QStringList keptLogs(const QString& path);
    // `view` NotShown keeps the entry out of the live view (the engine's diagnostics on the
    // terminal, where the program's own message is told).
    enum class View { Shown, NotShown };
    void append(const QString& text, View view = View::Shown);
    // Lets go of the file (the next entry opens it again).
    void closeFile();
    // Why the file could not be written, the first time since the last reset; empty while
    // every entry reached it. A run reports it rather than losing entries without a word.
    [[nodiscard]] QString writeFailure() const;

    // "dd.MM.yyyy hh:mm:ss / text", without the line end.
    [[nodiscard]] static QString formatEntry(const QDateTime& when, const QString& text);

private:
    void closeLocked();

    mutable QMutex m_mutex;
    int m_fd = -1;  // the open file, or -1
    QString m_path;
    bool m_active = false;
    bool m_viewReady = false;
    bool m_logView = false;
    QString m_writeFailure;
    LineListener m_onLine;
    ClearListener m_onClear;
};

}  // namespace pw::send
