// The run-time's exception family. Every error the program raises derives from Exception and
// carries only its message (and, for file errors, the I/O code). Header-only and free of any
// toolkit so that the GIF library can use it on its own.
#pragma once

#include <cerrno>
#include <stdexcept>
#include <string>

class Exception : public std::runtime_error {
public:
    explicit Exception(const std::string& message) : std::runtime_error(message) {}
};

// The run-time's texts for file I/O error codes.
inline std::string InOutErrorText(int code)
{
    switch (code) {
    case 2: return "Datei nicht gefunden";
    case 3: return "Ungültiger Dateiname";
    case 4: return "Zu viele Dateien geöffnet";
    case 5: return "Dateizugriff verweigert";
    case 100: return "Lesen nach Dateiende (EOF)";
    case 101: return "Kapazität der Diskette/Festplatte erschöpft";
    case 106: return "Ungültige numerische Eingabe";
    default: return "I/O-Fehler " + std::to_string(code);
    }
}

class EInOutError : public Exception {
public:
    explicit EInOutError(int code) : Exception(InOutErrorText(code)), ErrorCode(code) {}
    int ErrorCode;
};

// The run-time's I/O code for a system error number.
inline int IoCodeFromErrno(int error)
{
    switch (error) {
    case ENOENT: return 2;
    case ENOTDIR:
    case ENAMETOOLONG:
    case EISDIR: return 3;
    case EMFILE:
    case ENFILE: return 4;
    case EACCES:
    case EPERM:
    case EROFS: return 5;
    case ENOSPC: return 101;
    default: return error;
    }
}

class EStringListError : public Exception {
public:
    using Exception::Exception;
};

class EListError : public Exception {
public:
    using Exception::Exception;
};

class EInvalidOperation : public Exception {
public:
    using Exception::Exception;
};
