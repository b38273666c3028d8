// The monitor's core alone in a program, so that the "layers" test sees what
// the core library pulls in: no widgets.
#include "Vigilo/Monitor/CallPort.h"

int main()
{
    return kv::vigilo::CallPort::staticMetaObject.className() ? 0 : 1;
}
