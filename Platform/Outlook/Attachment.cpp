#include "Platform/Outlook/Attachment.h"

#include "Platform/Outlook/ObjectData.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

using namespace Qt::StringLiterals;

namespace kv::outlook {

using namespace detail;

int Attachments::Count() const
{
    if (!Valid(m_item)) return 0;
    return static_cast<int>(m_item->atts.size());
}

Attachment Attachments::Add(const QString& source, int type, int position, const QString& displayName) const
{
    if (!Valid(m_item)) return {};
    if (type != olByValue) {
        SetErr(ErrNo::InvalidArg, u"Only attachments by value are available."_s);
        return {};
    }
    QFile f(source);
    if (source.isEmpty() || !QFileInfo(source).isFile() || !f.open(QIODevice::ReadOnly)) {
        SetErr(ErrNo::FileNotFound, u"Cannot find this file. Verify the path and file name are correct."_s);
        return {};
    }
    if (f.size() > MaxAttachmentBytes) {
        SetErr(ErrNo::InvalidArg, u"The file is too large to attach."_s);
        return {};
    }
    AttData a;
    a.type = type;
    a.position = position;
    a.fileName = QFileInfo(source).fileName();
    a.displayName = displayName.isEmpty() ? a.fileName : displayName;
    a.data = f.readAll();
    if (a.data.size() != f.size()) {
        SetErr(ErrNo::Fail, u"The file could not be read."_s);
        return {};
    }
    m_item->atts.append(a);
    m_item->attsDirty = true;
    Attachment att;
    att.m_item = m_item;
    att.m_index = static_cast<int>(m_item->atts.size());
    return att;
}

Attachment Attachments::Item(int index) const
{
    if (!Valid(m_item)) return {};
    if (index < 1 || index > m_item->atts.size()) {
        SetErr(ErrNo::NotFound, u"Array index out of bounds."_s);
        return {};
    }
    Attachment att;
    att.m_item = m_item;
    att.m_index = index;
    return att;
}

bool Attachments::Remove(int index) const
{
    if (!Valid(m_item)) return false;
    if (index < 1 || index > m_item->atts.size())
        return SetErr(ErrNo::NotFound, u"Array index out of bounds."_s);
    m_item->atts.removeAt(index - 1);
    m_item->attsDirty = true;
    return true;
}

namespace {
const AttData* attAt(const std::shared_ptr<ItemData>& item, int index)
{
    if (!Valid(item)) return nullptr;
    if (index < 1 || index > item->atts.size()) {
        SetErr(ErrNo::NotFound, u"The attachment has been removed."_s);
        return nullptr;
    }
    return &item->atts.at(index - 1);
}
} // namespace

QString Attachment::DisplayName() const
{
    const AttData* a = attAt(m_item, m_index);
    return a ? a->displayName : QString();
}
QString Attachment::FileName() const
{
    const AttData* a = attAt(m_item, m_index);
    return a ? a->fileName : QString();
}
int Attachment::Position() const
{
    const AttData* a = attAt(m_item, m_index);
    return a ? a->position : 0;
}
int Attachment::Type() const
{
    const AttData* a = attAt(m_item, m_index);
    return a ? a->type : 0;
}
qint64 Attachment::Size() const
{
    const AttData* a = attAt(m_item, m_index);
    return a ? a->data.size() : 0;
}
QByteArray Attachment::Data() const
{
    const AttData* a = attAt(m_item, m_index);
    return a ? a->data : QByteArray();
}
bool Attachment::SaveAsFile(const QString& path) const
{
    const AttData* a = attAt(m_item, m_index);
    if (!a) return false;
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(a->data) != a->data.size() || !f.commit())
        return SetErr(ErrNo::Fail, u"Cannot save the attachment to '%1'."_s.arg(path));
    return true;
}

} // namespace kv::outlook
