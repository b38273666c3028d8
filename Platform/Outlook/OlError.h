#pragma once
// Errors of the mail-store object model. Callers drive the object model with
// errors trapped and read the number after each call that can fail, so every
// call records its outcome here: a call on a valid object first clears the
// error; a failing call sets it; a call on a missing object (Nothing) keeps
// the error that produced it, so the first failure of a chain survives.
#include <QString>
#include <QtGlobal>

namespace kv::outlook {

// Error numbers as the callers compare them (32-bit, as the automation layer reports them).
namespace ErrNo {
inline constexpr qint32 None = 0;
inline constexpr qint32 TypeMismatch = 13;
inline constexpr qint32 ObjectNotSet = 91;
inline constexpr qint32 CannotCreateObject = 429;       // no running instance to attach to
inline constexpr qint32 NotSupported = 438;             // member not on this kind of item
inline constexpr qint32 WrongArguments = 450;
inline constexpr qint32 ServerUnavailable = 462; // the instance went away during a call
inline constexpr qint32 Exception = qint32(0x80020009); // not found; folder exists; bad filter
inline constexpr qint32 BadIndex = qint32(0x8002000B);
inline constexpr qint32 NotFound = qint32(0x8004010F);
inline constexpr qint32 StoreFailed = qint32(0x8004011D);
inline constexpr qint32 Collision = qint32(0x80040604);   // already exists
inline constexpr qint32 CantCallOut = qint32(0x8001010D); // held folder no longer there
inline constexpr qint32 FileNotFound = qint32(0x80070002);
inline constexpr qint32 InvalidArg = qint32(0x80070057);
inline constexpr qint32 Fail = qint32(0x80004005); // store busy beyond its time-out
} // namespace ErrNo

struct OlError {
    qint32 Number = ErrNo::None;
    QString Description;

    explicit operator bool() const { return Number != ErrNo::None; }
    // The number in hexadecimal as the callers write it, e.g. "80020009".
    QString hex() const;
};

// The outcome of the last object-model call on this thread.
const OlError& Err();
void ClearErr();

namespace detail {
// Records a failure; returns false so that callers can "return fail(...)".
bool SetErr(qint32 number, const QString& description);
// A call on Nothing: keeps a pending error, else records "object not set".
bool NothingErr();
// How every call on a handle starts: on Nothing it fails as NothingErr does,
// else it clears the error.
template <typename Handle>
bool Valid(const Handle& handle)
{
    if (!handle) return NothingErr();
    ClearErr();
    return true;
}
} // namespace detail

} // namespace kv::outlook
