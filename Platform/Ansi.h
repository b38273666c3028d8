#pragma once
// Text in the ANSI code page a Windows peer writes (Windows-1252): datagrams,
// settings and Peerslips. Every byte reads as one character and writes back as
// the same byte, so binary data carried in text survives; a character the code
// page lacks is written as "?".
#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

namespace kv::platform {

QByteArray ToAnsi(QStringView text);
QString FromAnsi(QByteArrayView bytes);

} // namespace kv::platform
