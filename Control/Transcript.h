#pragma once
// The two transcript line formats and the transcript's set-up.
#include <QColor>
#include <QString>

class QTextEdit;
class QWidget;

namespace kv::control {

// The one tab stop of every transcript, so names and text line up.
inline constexpr int TranscriptTabStopTwips = 1250;
// Notices: the bracketed name in this grey.
inline constexpr QRgb NoticeGrey = 0xC0C0C0;

int TwipsToPixels(int twips, const QWidget* widget);

// Colours are stored as Windows colour values (0x00BBGGRR) in decimal.
QColor ColorFromSetting(qint64 value);
qint64 ColorToSetting(const QColor& color);

// Read-only rich text with the tab stop.
void PrepareTranscript(QTextEdit* transcript);

// name in bold in colour, then TAB, text, CR LF. Updates are held off while writing.
void AppendChatLine(QTextEdit* transcript, const QString& name, const QColor& color, const QString& text);
// "[" + name + "]" in bold grey, then TAB, text, CR LF.
void AppendNoticeLine(QTextEdit* transcript, const QString& name, const QString& text);
// The notice text of a new availability, alike on the changing side and on the others'.
QString StatusNotice(const QString& availability);
// Plain text at the end, in the normal weight ("\r\n" and "\r" are line breaks).
void AppendPlainText(QTextEdit* transcript, const QString& text);

} // namespace kv::control
