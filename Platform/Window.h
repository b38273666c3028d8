#pragma once
// Finding another program's main window and closing it. A program whose main
// window others look for owns a name on the session bus for as long as the
// window exists; its close member runs the program's normal closing path, as
// the "close" system command would.
#include <QString>

namespace kv::platform {

struct BusWindow {
    QString name;      // the bus name the program owns
    QString path;      // the object that carries the close member
    QString interface; // and its interface
    QString closeMember;
};

// Whether the program's main window exists.
bool WindowExists(const BusWindow& window);
// Asks the program to close its window without waiting for it; false when it could not be asked.
bool CloseWindow(const BusWindow& window);

} // namespace kv::platform
