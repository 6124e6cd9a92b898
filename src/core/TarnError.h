#pragma once

#include <stdexcept>
#include <string>

namespace tarn {

// What went wrong, in words a user can act on; a failed check shows it beside its text.
enum class ErrorKind {
    Other,
    HostNotFound,      // the server name has no address
    ConnectionRefused, // nothing listens at the server's port
    NetworkError,      // any other failure of the socket
    TimedOut,          // a connect, an answer, a write or the whole check took too long
    ConnectionClosed,  // the server closed the connection
    NotConnected,      // a command on a connection that is already gone
    LoginRejected,     // the server refused the user name or password
    ServerError,       // the server refused a command after the login
    ProtocolError,     // an answer the client cannot read
    OverBudget,        // the server sent more than the client is willing to hold
    TlsError,          // the encrypted channel failed
    CertificateError,  // the server's certificate is not trusted
    LocalError,        // the check could not start or could not store what it found
};

// The short name of a kind, as the field hint and tarnwick-check show it.
// Whether a failure of this kind leaves the connection out of step with its commands: after a
// time-out the answer may still come and would be read as the next command's.
inline bool breaksDialogue(ErrorKind kind) {
    switch (kind) {
    case ErrorKind::TimedOut:
    case ErrorKind::ConnectionClosed:
    case ErrorKind::NotConnected:
    case ErrorKind::NetworkError:
    case ErrorKind::TlsError:
        return true;
    default:
        return false;
    }
}

inline const char* errorKindName(ErrorKind kind) {
    switch (kind) {
    case ErrorKind::HostNotFound:
        return "host not found";
    case ErrorKind::ConnectionRefused:
        return "connection refused";
    case ErrorKind::NetworkError:
        return "network error";
    case ErrorKind::TimedOut:
        return "time-out";
    case ErrorKind::ConnectionClosed:
        return "connection closed";
    case ErrorKind::NotConnected:
        return "not connected";
    case ErrorKind::LoginRejected:
        return "login rejected";
    case ErrorKind::ServerError:
        return "server error";
    case ErrorKind::ProtocolError:
        return "protocol error";
    case ErrorKind::OverBudget:
        return "over budget";
    case ErrorKind::TlsError:
        return "TLS error";
    case ErrorKind::CertificateError:
        return "certificate error";
    case ErrorKind::LocalError:
        return "local error";
    case ErrorKind::Other:
        break;
    }
    return "error";
}

// Every failure the program raises carries a message, and where it is known, its kind;
// inside a check it is caught and recorded, on the main thread it is dropped by the
// application's error handler.
class TarnError : public std::runtime_error {
public:
    explicit TarnError(const std::string& what) : std::runtime_error(what) {}
    explicit TarnError(const char* what) : std::runtime_error(what) {}
    TarnError(ErrorKind kind, const std::string& what) : std::runtime_error(what), m_kind(kind) {}

    ErrorKind kind() const { return m_kind; }

private:
    ErrorKind m_kind = ErrorKind::Other;
};

} // namespace tarn
