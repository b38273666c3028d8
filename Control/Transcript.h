#pragma once
// A room's transcript as a view: the edit showing the room's document.
#include "Control/Session/Transcript.h"

class QEvent;
class QObject;
class QTextDocument;
class QTextEdit;
class QWidget;

namespace kv::control {

int TwipsToPixels(int twips, const QWidget* widget);

// Shows the document read-only with the tab stop. While lines arrive the
// view's painting is held off and drawn once when they stop; the caret
// follows the end unless the user holds a selection.
void PrepareTranscript(QTextEdit* transcript, QTextDocument* document);

// Shift+F10 on a widget: sends it the keyboard's context-menu event at its
// caret (or current item), as the menu key does, and says so.
bool KeyboardContextMenu(QObject* watched, QEvent* event);

} // namespace kv::control
