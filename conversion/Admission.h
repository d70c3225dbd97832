#pragma once

#include "db/Database.h"

#include <QString>
#include <optional>

class MainView;
struct Platform;

// Whether the window's actions may start, each telling the operator why not.
namespace Admission {

// The conversion: inside the changeover window (6/12/2012 to 5/1/2013), with a distributor
// option chosen. The preview changes nothing and serves any day: it needs the option only.
bool admitted(const Platform& platform, const MainView& view, bool conversion);

// Another conversion holds the catalogue; on the embedded engine, where its lock file is and
// who holds it: a lock left by a program that died on another PC is never taken over, and
// support removes it.
QString anotherRunMessage(const std::optional<db::Connection::LockHolder>& holder);

// A statement waited past the bound for a lock another program holds: what to do about it.
QString catalogueHeldMessage();

} // namespace Admission
