#include "smtp/SmtpTexts.h"

#include "smtp/SmtpLanguage.h"

#include <QList>

namespace pw::smtp {

namespace {

struct Entry {
    int id;
    const char* english;
    const char* japanese;
};

// "%1" is the server's last response (for the TLS errors: the TLS library's error texts).
const Entry kEntries[] = {
    {257, "Unexpected SMTP Login response, Last Response: %1",
     "SMTPサーバーの接続応答が不正です。最後の応答: %1"},
    {258, "Unexpected EHLO response, Last Response: %1", "EHLOの応答が不正です。最後の応答: %1"},
    {259, "Unexpected HELO response, Last Response: %1", "HELOの応答が不正です。最後の応答: %1"},
    {260, "Unexpected QUIT response, Last Response: %1", "QUITの応答が不正です。最後の応答: %1"},
    {261, "Unexpected MAIL FROM response, Last Response: %1",
     "MAIL FROMの応答が不正です。最後の応答: %1"},
    {262, "Unexpected DATA response, Last Response: %1", "DATAの応答が不正です。最後の応答: %1"},
    {266, "Unexpected End of Message response, Last Response: %1",
     "メッセージ終端の応答が不正です。最後の応答: %1"},
    {270, "Unexpected RCPT TO response, Last Response: %1",
     "RCPT TOの応答が不正です。最後の応答: %1"},
    {271, "A graceful disconnect had occurred, Last Response: %1",
     "サーバーが接続を閉じました。最後の応答: %1"},
    {272, "Unexpected AUTH LOGIN response, Last Response: %1",
     "AUTH LOGINの応答が不正です。最後の応答: %1"},
    {273, "Unexpected AUTH LOGIN username request, Last Response: %1",
     "AUTH LOGINのユーザー名要求が不正です。最後の応答: %1"},
    {274, "Unexpected AUTH LOGIN username response, Last Response: %1",
     "AUTH LOGINのユーザー名に対する応答が不正です。最後の応答: %1"},
    {275, "Unexpected AUTH LOGIN password request, Last Response: %1",
     "AUTH LOGINのパスワード要求が不正です。最後の応答: %1"},
    {276, "Unexpected AUTH LOGIN password response, Last Response: %1",
     "AUTH LOGINのパスワードに対する応答が不正です。最後の応答: %1"},
    {277, "Unexpected AUTH PLAIN response, Last Response: %1",
     "AUTH PLAINの応答が不正です。最後の応答: %1"},
    {278, "Unexpected CRAM-MD5 response, Last Response: %1",
     "CRAM-MD5の応答が不正です。最後の応答: %1"},
    {279, "Unexpected CRAM-MD5 digest response, Last Response: %1",
     "CRAM-MD5ダイジェストに対する応答が不正です。最後の応答: %1"},
    {516, "Unexpected AUTH NTLM response, Last Response: %1",
     "AUTH NTLMの応答が不正です。最後の応答: %1"},
    {517,
     "The message is larger than the server takes, so it was not sent (it would be refused "
     "after the whole transfer): %1",
     "メッセージがサーバーの受け付ける大きさを超えているため送信しませんでした "
     "(すべて転送した後に拒否されます): "
     "%1"},
    {625, "Could not create the SSL/TLS connection: %1", "SSL/TLS接続を作成できませんでした: %1"},
    {626,
     "The server does not offer STARTTLS, so the connection was not encrypted and was closed "
     "before the password was sent. Last Response: %1",
     "サーバーがSTARTTLSに対応していないため、パスワードを送信する前に接続を閉じました。最後の応答:"
     " "
     "%1"},
    {627, "Unexpected STARTTLS response, Last Response: %1",
     "STARTTLSの応答が不正です。最後の応答: %1"},
    {628, "The server's certificate was refused: %1", "サーバーの証明書を拒否しました: %1"},
    {629, "Could not receive via SSL/TLS: %1", "SSL/TLSで受信できませんでした: %1"},
    {630, "Could not create the SSL/TLS context: %1",
     "SSL/TLSコンテキストを作成できませんでした: %1"},
    {631, "Could not connect via SSL/TLS: %1", "SSL/TLSで接続できませんでした: %1"},
    {632, "Could not send via SSL/TLS: %1", "SSL/TLSで送信できませんでした: %1"},
    {740, "Unexpected AUTH XOAUTH2 response, Last Response: %1",
     "AUTH XOAUTH2の応答が不正です。最後の応答: %1"},
    {741, "Unexpected AUTH OAUTHBEARER response, Last Response: %1",
     "AUTH OAUTHBEARERの応答が不正です。最後の応答: %1"},
    {742, "The server did not accept the sign-in (access token), Last Response: %1",
     "サーバーがサインイン（アクセストークン）を受け付けませんでした。最後の応答: %1"},
};

const Entry* find(int id) {
    for (const Entry& e : kEntries) {
        if (e.id == id) {
            return &e;
        }
    }
    return nullptr;
}

}  // namespace

QString smtpText(int id) {
    const Entry* e = find(id);
    if (e == nullptr) {
        return {};
    }
    return QString::fromUtf8(textLanguage() == TextLanguage::Japanese ? e->japanese : e->english);
}

bool hasSmtpText(int id) {
    return find(id) != nullptr;
}

QList<int> smtpTextIds() {
    QList<int> ids;
    for (const Entry& e : kEntries) {
        ids.append(e.id);
    }
    return ids;
}

}  // namespace pw::smtp
