#include "smtp/KTWSMTPException.h"

#include "smtp/SmtpTexts.h"
#include "smtp/WSocket.h"

namespace pw::smtp {

CKTWSMTPException::CKTWSMTPException(std::uint32_t error, QString lastResponse)
    : m_error(error), m_lastResponse(std::move(lastResponse)) {
    m_what = Description().toStdString();
}

CKTWSMTPException CKTWSMTPException::FromMessage(int id, const QString& lastResponse) {
    return CKTWSMTPException(MakeError(kFacilityItf, id), lastResponse);
}

CKTWSMTPException CKTWSMTPException::FromSystemError(int code) {
    return CKTWSMTPException(MakeError(kFacilityWin32, code), QString());
}

CKTWSMTPException CKTWSMTPException::FromSocket(const CWSocketException& e) {
    return FromSystemError(e.code());
}

QString CKTWSMTPException::Description() const {
    if (Facility() == kFacilityItf) {
        const QString text = smtpText(Code());
        if (!text.isEmpty()) {
            // a plain replace: a response holding "%2" must not be taken for an argument
            QString result = text;
            result.replace(QLatin1String("%1"), m_lastResponse);
            return result;
        }
        return QStringLiteral("Error %1: %2").arg(Code()).arg(m_lastResponse);
    }
    return CWSocketException::textFor(Code());
}

}  // namespace pw::smtp
