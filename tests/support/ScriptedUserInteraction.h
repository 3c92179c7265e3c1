#pragma once
// A user who answers from a script and remembers every question, for headless tests.

#include <QList>
#include <QString>
#include <QStringList>
#include <deque>
#include <functional>

#include "resources/UserInteraction.h"

namespace pw::test {

struct AskedMessage {
    QString caption;
    QString text;
    MessageKind kind;
};

class ScriptedUserInteraction : public IUserInteraction {
public:
    // Answers given in order; when the script runs out, Information gets Ok and questions
    // get their preselected button.
    void script(std::initializer_list<Answer> answers) {
        m_answers.insert(m_answers.end(), answers);
    }
    // Buttons pressed in boxes with buttons of their own, by caption; when the script runs
    // out, the default button is pressed.
    void scriptChoices(std::initializer_list<QString> buttons) {
        m_choices.insert(m_choices.end(), buttons);
    }
    // What the file and folder choosers return, in order; an empty list is a cancelled
    // chooser, and so is every chooser once the script runs out.
    void scriptFiles(std::initializer_list<QStringList> answers) {
        m_files.insert(m_files.end(), answers);
    }
    // What the text questions are answered, in order; nothing is a cancel, and so is every
    // question once the script runs out.
    void scriptTexts(std::initializer_list<std::optional<QString>> answers) {
        for (const std::optional<QString>& a : answers)
            m_texts.push_back({a.has_value(), a.value_or(QString())});
    }
    // The browser: called with every address opened (a sign-in page); without one, nothing
    // opens and openUrl() says so.
    void setUrlOpener(std::function<bool(const QString&)> opener) { m_opener = std::move(opener); }
    [[nodiscard]] const QStringList& urlsOpened() const { return m_urls; }
    bool openUrl(const QString& url) override {
        m_urls << url;
        return m_opener && m_opener(url);
    }
    // A cancellable progress display reports a cancel once its position reaches this value.
    void cancelProgressAt(int position) { m_cancelAt = position; }

    Answer message(const QString& caption, const QString& text, MessageKind kind) override;
    int choose(const ChoiceRequest& request) override;
    QStringList chooseFiles(const FileRequest& request) override;
    std::optional<QString> askText(const TextRequest& request) override;
    [[nodiscard]] const QList<TextRequest>& textsAsked() const { return m_textsAsked; }
    std::unique_ptr<IProgress> createProgress() override;

    [[nodiscard]] const QList<AskedMessage>& asked() const { return m_asked; }
    [[nodiscard]] QStringList askedTexts() const;
    [[nodiscard]] const QList<ChoiceRequest>& choicesAsked() const { return m_choicesAsked; }
    [[nodiscard]] const QList<FileRequest>& filesAsked() const { return m_filesAsked; }
    // Everything the progress displays showed, as "caption: ...", "text: ...", "range: a..b",
    // "position: p", "cancellable", "cancelled" lines in order.
    [[nodiscard]] const QStringList& progressLog() const { return m_progressLog; }
    void clear() {
        m_asked.clear();
        m_choicesAsked.clear();
        m_filesAsked.clear();
        m_progressLog.clear();
    }

private:
    friend class ScriptedProgress;
    std::deque<Answer> m_answers;
    std::deque<QString> m_choices;
    std::deque<QStringList> m_files;
    struct TextAnswer {
        bool given = false;
        QString text;
    };
    std::deque<TextAnswer> m_texts;
    QList<TextRequest> m_textsAsked;
    int m_cancelAt = -1;
    std::function<bool(const QString&)> m_opener;
    QStringList m_urls;
    QList<AskedMessage> m_asked;
    QList<ChoiceRequest> m_choicesAsked;
    QList<FileRequest> m_filesAsked;
    QStringList m_progressLog;
};

}  // namespace pw::test
