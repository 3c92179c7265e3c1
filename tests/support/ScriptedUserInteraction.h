#pragma once
// A user who answers from a script and remembers every question, for headless tests.

#include <QList>
#include <QString>
#include <QStringList>
#include <deque>

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

    Answer message(const QString& caption, const QString& text, MessageKind kind) override;
    std::unique_ptr<IProgress> createProgress() override;

    [[nodiscard]] const QList<AskedMessage>& asked() const { return m_asked; }
    [[nodiscard]] QStringList askedTexts() const;
    // Everything the progress displays showed, as "caption: ...", "text: ...", "range: a..b",
    // "position: p" lines in order.
    [[nodiscard]] const QStringList& progressLog() const { return m_progressLog; }
    void clear() {
        m_asked.clear();
        m_progressLog.clear();
    }

private:
    friend class ScriptedProgress;
    std::deque<Answer> m_answers;
    QList<AskedMessage> m_asked;
    QStringList m_progressLog;
};

}  // namespace pw::test
