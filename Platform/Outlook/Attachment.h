#pragma once
// An item's attachments, held by value in the item until it is saved.
#include "Platform/Outlook/OlError.h"
#include "Platform/Outlook/OlTypes.h"

#include <QByteArray>
#include <QString>
#include <memory>

namespace kv::outlook {

class Attachment {
public:
    Attachment() = default;
    explicit operator bool() const { return m_item != nullptr; }
    QString DisplayName() const;
    QString FileName() const;
    int Position() const;
    int Type() const;
    qint64 Size() const;
    QByteArray Data() const;
    bool SaveAsFile(const QString& path) const;

private:
    friend class Attachments;
    std::shared_ptr<detail::ItemData> m_item;
    int m_index = 0;
};

class Attachments {
public:
    Attachments() = default;
    explicit operator bool() const { return m_item != nullptr; }
    int Count() const;
    // Copies the file's bytes into the item (by value). position: the body
    // character it stands at (-1: none); displayName empty: the file's name.
    Attachment Add(const QString& source, int type = olByValue, int position = -1,
                   const QString& displayName = {}) const;
    Attachment Item(int index) const; // 1-based
    bool Remove(int index) const;

    static constexpr qint64 MaxAttachmentBytes = qint64(64) * 1024 * 1024;

private:
    friend class Item;
    std::shared_ptr<detail::ItemData> m_item;
};

} // namespace kv::outlook
