#pragma once

#include <QString>
#include <QtGlobal>

// The error a procedure's trap caught: a signed 32-bit number (0 means none) and the
// description the failing component gave. The numbers are those the host platform's
// components report, because the run and the log decide on them.
struct Error
{
    qint32 number = 0;
    QString description;

    bool failed() const { return number != 0; }
    static Error none() { return {}; }
};

// The numbers the tool decides on, in one place.
namespace ErrorNumber {
inline constexpr qint32 Interrupted = 18; // the operator ended a wait
inline constexpr qint32 FileNotFound = 53;
inline constexpr qint32 DeviceIo = 57;
inline constexpr qint32 FileExists = 58;
inline constexpr qint32 DiskFull = 61;
inline constexpr qint32 PermissionDenied = 70;
inline constexpr qint32 PathFileAccess = 75; // a folder where a file should be
inline constexpr qint32 PathNotFound = 76;
inline constexpr qint32 ObjectNotSet = 91;
inline constexpr qint32 InvalidArgument = 5;
inline constexpr qint32 TypeMismatch = 13;

// Data-access numbers, as the SQL Server OLE DB provider reports them.
inline constexpr qint32 CommandText = -2147217900;         // 0x80040E14
inline constexpr qint32 UnknownObject = -2147217865;       // 0x80040E37
inline constexpr qint32 ConversionFailed = -2147217913;    // 0x80040E07
inline constexpr qint32 Truncation = -2147217833;          // 0x80040E57
inline constexpr qint32 ConstraintViolation = -2147217873; // 0x80040E2F
inline constexpr qint32 Unreachable = -2147467259;         // 0x80004005
// The same number: what the provider raises for any failure it has no number of its own for.
inline constexpr qint32 Unspecified = -2147467259;
inline constexpr qint32 AccessDenied = -2147217911; // 0x80040E09
inline constexpr qint32 LoginFailed = -2147217843;  // 0x80040E4D
inline constexpr qint32 RowNotFound = -2147217864;  // 0x80040E38
// A lock another program holds was waited for past the time allowed.
inline constexpr qint32 LockTimeout = -2147217871; // 0x80040E31
} // namespace ErrorNumber
