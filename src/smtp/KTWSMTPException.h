#pragma once
// The one failure type of the SMTP client. Its value keeps the layout of a system error value:
// bit 31 set, bits 16-30 the facility, bits 0-15 the code. Facility 4 codes are the client's
// own message numbers; facility 7 codes are system (errno) and socket error codes.

#include <QString>

#include <cstdint>
#include <exception>
#include <string>

namespace pw::smtp {

class CWSocketException;

class CKTWSMTPException : public std::exception {
public:
    static constexpr int kFacilityItf = 4;
    static constexpr int kFacilityWin32 = 7;

    [[nodiscard]] static constexpr std::uint32_t MakeError(int facility, int code) {
        return 0x80000000u | (static_cast<std::uint32_t>(facility & 0x7fff) << 16) |
               static_cast<std::uint32_t>(code & 0xffff);
    }

    CKTWSMTPException(std::uint32_t error, QString lastResponse);
    // A client message (facility 4) with the last response.
    [[nodiscard]] static CKTWSMTPException FromMessage(int id, const QString& lastResponse);
    // A system or socket error code (facility 7) with an empty last response.
    [[nodiscard]] static CKTWSMTPException FromSystemError(int code);
    [[nodiscard]] static CKTWSMTPException FromSocket(const CWSocketException& e);

    [[nodiscard]] std::uint32_t Error() const noexcept { return m_error; }
    [[nodiscard]] int Facility() const noexcept {
        return static_cast<int>((m_error >> 16) & 0x7fff);
    }
    [[nodiscard]] int Code() const noexcept { return static_cast<int>(m_error & 0xffff); }
    [[nodiscard]] const QString& LastResponse() const noexcept { return m_lastResponse; }

    // Facility 4: the message with "%1" replaced by the last response; otherwise the system's
    // text for the code.
    [[nodiscard]] QString Description() const;
    const char* what() const noexcept override { return m_what.c_str(); }

private:
    std::uint32_t m_error;
    QString m_lastResponse;
    std::string m_what;
};

}  // namespace pw::smtp
