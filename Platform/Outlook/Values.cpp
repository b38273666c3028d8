#include "Platform/Outlook/Values.h"

#include "Platform/Outlook/Outlook.h"

#include <QDateTime>
#include <cmath>

using namespace Qt::StringLiterals;

namespace kv::outlook::detail {

bool IsKnownPropertyType(int type)
{
    return type == olText || type == olNumber || type == olDateTime || type == olYesNo;
}

QVariant DefaultValue(int type)
{
    switch (type) {
    case olNumber:
        return QVariant::fromValue<qint64>(0);
    case olYesNo:
        return false;
    case olDateTime:
        return QVariant::fromValue(QDateTime());
    default:
        return QString();
    }
}

namespace {

QVariant number(double v)
{
    if (std::isfinite(v) && v == std::trunc(v) && std::fabs(v) < 9.0e15)
        return QVariant::fromValue<qint64>(static_cast<qint64>(v));
    return v;
}

bool isNumeric(const QVariant& v)
{
    switch (v.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Short:
    case QMetaType::UShort:
        return true;
    default:
        return false;
    }
}

} // namespace

bool Coerce(int type, const QVariant& in, QVariant* out)
{
    const bool isBool = in.typeId() == QMetaType::Bool;
    switch (type) {
    case olText:
        if (isBool)
            *out = in.toBool() ? u"True"_s : u"False"_s;
        else if (!in.isValid() || in.isNull())
            *out = QString();
        else if (in.canConvert<QString>())
            *out = in.toString();
        else
            return false;
        return true;
    case olYesNo: {
        if (isBool) {
            *out = in.toBool();
            return true;
        }
        if (isNumeric(in)) {
            *out = in.toDouble() != 0.0;
            return true;
        }
        const QString s = in.toString().trimmed();
        if (s.compare(u"true"_s, Qt::CaseInsensitive) == 0 || s.compare(u"yes"_s, Qt::CaseInsensitive) == 0 ||
            s == u"-1"_s || s == u"1"_s) {
            *out = true;
            return true;
        }
        if (s.compare(u"false"_s, Qt::CaseInsensitive) == 0 || s.compare(u"no"_s, Qt::CaseInsensitive) == 0 ||
            s == u"0"_s || s.isEmpty()) {
            *out = false;
            return true;
        }
        return false;
    }
    case olNumber: {
        if (isBool) {
            *out = QVariant::fromValue<qint64>(in.toBool() ? -1 : 0); // True is -1
            return true;
        }
        if (isNumeric(in)) {
            *out = number(in.toDouble());
            if (in.typeId() == QMetaType::LongLong || in.typeId() == QMetaType::Int)
                *out = QVariant::fromValue<qint64>(in.toLongLong());
            return true;
        }
        bool ok = false;
        const QString s = in.toString().trimmed();
        const double d = s.toDouble(&ok);
        if (!ok || !std::isfinite(d)) return false;
        *out = number(d);
        return true;
    }
    case olDateTime: {
        if (in.typeId() == QMetaType::QDateTime || in.typeId() == QMetaType::QDate) {
            *out = QVariant::fromValue(in.toDateTime());
            return true;
        }
        const QDateTime dt = QDateTime::fromString(in.toString().trimmed(), Qt::ISODate);
        if (!dt.isValid()) return false;
        *out = QVariant::fromValue(dt);
        return true;
    }
    default:
        return false;
    }
}

QVariant ToStored(int type, const QVariant& value)
{
    switch (type) {
    case olYesNo:
        return value.toBool() ? 1 : 0;
    case olNumber:
        if (value.typeId() == QMetaType::Double) return value.toDouble();
        return value.toLongLong();
    case olDateTime: {
        const QDateTime dt = value.toDateTime();
        return dt.isValid() ? QVariant(dt.toString(Qt::ISODateWithMs)) : QVariant(u""_s);
    }
    default: {
        const QString text = value.toString();
        return text.isNull() ? QString(u""_s) : text; // NULL would never compare equal
    }
    }
}

QVariant FromStored(int type, const QVariant& stored)
{
    switch (type) {
    case olYesNo:
        return stored.toLongLong() != 0;
    case olNumber:
        if (stored.typeId() == QMetaType::Double) return number(stored.toDouble());
        return QVariant::fromValue<qint64>(stored.toLongLong());
    case olDateTime:
        return QVariant::fromValue(QDateTime::fromString(stored.toString(), Qt::ISODateWithMs));
    default:
        return stored.toString();
    }
}

} // namespace kv::outlook::detail
