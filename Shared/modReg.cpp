#include "Shared/modReg.h"

#include <QStandardPaths>

using namespace Qt::StringLiterals;
namespace Registry = kv::platform::Registry;

namespace kv {

namespace {

QString productKey(const QString& subkey)
{
    return ProductKey.toString() + subkey;
}

// The read rules shared by ReadSetting and ReadKeyValue: a missing value, one
// that does not fit the buffer with its NUL, or an empty one where the caller
// has a non-empty default, all read as the default.
QString readRule(RegRoot root, const QString& keyPath, const QString& name, const QString& defaultValue)
{
    const std::optional<QString> stored = Registry::queryValue(root, keyPath, name);
    if (!stored)
        return defaultValue;
    if (stored->size() + 1 > SettingBufferSize)
        return defaultValue;
    if (stored->isEmpty() && !defaultValue.isEmpty())
        return defaultValue;
    return *stored;
}

} // namespace

QString ReadSetting(const QString& subkey, const QString& name, const QString& defaultValue)
{
    return readRule(RegRoot::CurrentUser, productKey(subkey), name, defaultValue);
}

int WriteSetting(const QString& subkey, const QString& name, const QString& value)
{
    // Only spaces are trimmed, as the design's Trim does; tabs and line breaks stay.
    qsizetype from = 0, to = value.size();
    while (from < to && value.at(from) == u' ')
        ++from;
    while (to > from && value.at(to - 1) == u' ')
        --to;
    Registry::setValue(RegRoot::CurrentUser, productKey(subkey), name, value.mid(from, to - from));
    return 0;
}

QString ReadKeyValue(RegRoot root, const QString& keyPath, const QString& name, const QString& defaultValue)
{
    return readRule(root, keyPath, name, defaultValue);
}

int WriteKeyValue(RegRoot root, const QString& keyPath, const QString& name, const QString& value)
{
    Registry::setValue(root, keyPath, name, value);
    return 0;
}

int DeleteKeyValue(RegRoot root, const QString& keyPath, const QString& name)
{
    return Registry::deleteValue(root, keyPath, name) ? 0 : ErrorFileNotFound;
}

int DeleteKey(RegRoot root, const QString& keyPath)
{
    return Registry::deleteKey(root, keyPath) ? 0 : ErrorFileNotFound;
}

QString SettingDefault(Deliverable who, const SettingSpec& spec)
{
    QString value = spec.defaultValue.toString();
    for (int i = 0; i < spec.overrideCount; ++i) {
        if (spec.overrides[static_cast<size_t>(i)].who == who)
            value = spec.overrides[static_cast<size_t>(i)].value.toString();
    }
    switch (spec.base) {
    case DefaultBase::None:
        return value;
    case DefaultBase::InstallDir:
        return ReadSetting(who, settings::InstallDir) + value;
    case DefaultBase::InstalledSerial:
        return ReadSetting(who, settings::SerialNum);
    case DefaultBase::DownloadFolder:
        return QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    }
    return value;
}

QString ReadSetting(Deliverable who, const SettingSpec& spec)
{
    return ReadSetting(spec.subkey.toString(), spec.name.toString(), SettingDefault(who, spec));
}

int WriteSetting(const SettingSpec& spec, const QString& value)
{
    return WriteSetting(spec.subkey.toString(), spec.name.toString(), value);
}

bool ReadFlag(Deliverable who, const SettingSpec& spec)
{
    return ReadSetting(who, spec).trimmed().toInt() != 0;
}

QString TodayPageUrl(const QString& installDir)
{
    return u"res://"_s + installDir + u"pellum.dll/Outlook.htm"_s;
}

} // namespace kv
