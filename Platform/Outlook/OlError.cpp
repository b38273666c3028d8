#include "Platform/Outlook/OlError.h"

#include "Platform/Log.h"

using namespace Qt::StringLiterals;

namespace kv::outlook {

namespace {
thread_local OlError t_err;
}

QString OlError::hex() const
{
    return QString::number(static_cast<quint32>(Number), 16).toUpper();
}

const OlError& Err()
{
    return t_err;
}

void ClearErr()
{
    t_err = OlError{};
}

namespace detail {

bool SetErr(qint32 number, const QString& description)
{
    // Many callers go on without looking at the error: this line is all that tells of it.
    // Numbers as the callers write them: object-model failures in hexadecimal, automation errors in decimal.
    qCDebug(platform::lcStore, "store call failed: %s: %s",
            qUtf8Printable((number < 0 ? OlError{number, {}}.hex() : QString::number(number))),
            qUtf8Printable(description));
    t_err.Number = number;
    t_err.Description = description;
    return false;
}

bool NothingErr()
{
    if (!t_err) SetErr(ErrNo::ObjectNotSet, u"Object variable or With block variable not set"_s);
    return false;
}

} // namespace detail
} // namespace kv::outlook
