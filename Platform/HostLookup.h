#pragma once
// Name resolution that never blocks the interface thread. A computer name is
// looked up on a worker of its own; its address is kept for the rest of the
// session; a name that has no answer within LookupBoundMs counts as not found
// (a resolver that does not answer may hold its worker far longer).
#include <QHostAddress>
#include <QString>
#include <functional>
#include <optional>

class QObject;

namespace kv::platform::HostLookup {

inline constexpr int LookupBoundMs = 2000;

using Answer = std::optional<QHostAddress>;

// A dotted address as it stands, or a name already answered in this process;
// nothing for an empty text or a name not (yet) answered.
Answer known(const QString& host);

// Calls done on the interface thread with host's IPv4 address, or with nothing
// when it has none or gave no answer within LookupBoundMs; never from inside
// this call, and not at all once context is gone.
void request(const QString& host, QObject* context, std::function<void(const Answer&)> done);

// Waits for request's answer, letting the interface's events run meanwhile
// (bounded by LookupBoundMs). For callers whose result is due at once.
Answer resolveNow(const QString& host);

// Tests: the blocking lookup that each worker runs (default: the system's
// resolver), and forgetting every name answered so far.
void setResolver(std::function<Answer(const QString& name)> resolver);
void forgetAll();

} // namespace kv::platform::HostLookup
