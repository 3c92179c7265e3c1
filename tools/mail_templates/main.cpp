// Writes the mail templates (".pzt") shipped in "Template/": a few everyday mails with the
// placeholders of the default field names. The Japanese ones are written in ISO-2022-JP,
// the code page of the program's default charset; the English ones are ASCII, which every
// charset reads alike. Run: mail_templates "<source>/data/Template"

#include <QCoreApplication>
#include <QStringList>
#include <cstdio>

#include "compose/MailFile.h"

namespace {

struct Mail {
    const char* file;
    bool japanese;
    const char* subject;
    const char* body;
};

const Mail kMails[] = {
    {"Order Confirmation", false, "Your order at our shop",
     "Dear [[Name]],\n\nthank you for your order. We have received it and will send it within "
     "two working days.\n\nIf you have any questions, simply reply to this mail.\n\nKind "
     "regards\n"},
    {"Appointment Reminder", false, "Reminder: your appointment",
     "Dear [[Name]],\n\nthis is a friendly reminder of your appointment with us. If you cannot "
     "come, please let us know by replying to this mail, so that we can offer the time to "
     "someone else.\n\nSee you soon\n"},
    {"Thank You", false, "Thank you, [[Name]]",
     "Dear [[Name]],\n\nthank you for visiting us. We hope you enjoyed your time and look "
     "forward to welcoming you again.\n\nBest wishes\n"},
    {"ご注文確認", true, "ご注文ありがとうございます",
     "[[名前]] "
     "様\n\nこのたびはご注文いただき、誠にありがとうございます。\nご注文の商品は2営業日以内に"
     "発送いたします。\n\nご不明な点がございましたら、このメールにご返信ください。\n\n今後ともよろ"
     "しく"
     "お願いいたします。\n"},
    {"ご予約の確認", true, "ご予約の確認",
     "[[名前]] 様\n\nご予約いただきありがとうございます。\nご都合が悪くなられた場合は、お手数ですが"
     "このメールへのご返信でお知らせください。\n\nご来店を心よりお待ちしております。\n"},
    {"お礼", true, "[[名前]] 様 ご来店ありがとうございました",
     "[[名前]] 様\n\n先日はご来店いただき、誠にありがとうございました。\nまたのお越しをスタッフ一同"
     "お待ちしております。\n"},
};

QStringList defaultCaptions(bool japanese) {
    QStringList c{japanese ? QStringLiteral("メールアドレス") : QStringLiteral("Mail Address"),
                  japanese ? QStringLiteral("名前") : QStringLiteral("Name")};
    for (int k = 3; k <= pw::kFieldCaptionCount; ++k) {
        c << QStringLiteral("field%1").arg(k);
    }
    return c;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: mail_templates <Template folder>\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]) + '/';
    int failures = 0;
    for (const Mail& m : kMails) {
        pw::MailDocument doc;
        doc.subject = QString::fromUtf8(m.subject);
        doc.recipientText =
            m.japanese ? QStringLiteral("[[メールアドレス]]") : QStringLiteral("[[Mail Address]]");
        doc.textBody = QString::fromUtf8(m.body).replace(u'\n', QStringLiteral("\r\n"));
        const auto cp = m.japanese ? *pw::CodePage::fromName("ISO-2022-JP") : pw::CodePage::utf8();
        const pw::WriteResult r =
            pw::writeTemplateFile(out + QString::fromUtf8(m.file) + QStringLiteral(".pzt"), doc,
                                  defaultCaptions(m.japanese), cp, nullptr);
        if (!r.ok()) {
            std::fprintf(stderr, "%s: %s\n", m.file, qPrintable(r.message));
            ++failures;
        }
    }
    return failures == 0 ? 0 : 1;
}
