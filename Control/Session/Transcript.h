#pragma once
// The two transcript line formats, written into a room's text document.
#include <QColor>
#include <QString>

class QTextDocument;

namespace kv::control {

// The one tab stop of every transcript, so names and text line up.
inline constexpr int TranscriptTabStopTwips = 1250;
// Notices: the bracketed name in this grey.
inline constexpr QRgb NoticeGrey = 0xC0C0C0;

// Colours are stored as Windows colour values (0x00BBGGRR) in decimal.
QColor ColorFromSetting(qint64 value);
qint64 ColorToSetting(const QColor& color);

// name in bold in colour, then TAB, text, CR LF.
void AppendChatLine(QTextDocument& transcript, const QString& name, const QColor& color, const QString& text);
// "[" + name + "]" in bold grey, then TAB, text, CR LF.
void AppendNoticeLine(QTextDocument& transcript, const QString& name, const QString& text);
// The notice text of a new availability, alike on the changing side and on the others'.
QString StatusNotice(const QString& availability);
// Plain text at the end, in the normal weight ("\r\n" and "\r" are line breaks).
void AppendPlainText(QTextDocument& transcript, const QString& text);

} // namespace kv::control
