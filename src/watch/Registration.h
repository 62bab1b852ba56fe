#pragma once

#include "wire/RecordBuilder.h"

class CPropatyHotLine;

// Who registers this node's own files, and when: the record builders' context from the node's
// settings and the wall clock.
namespace catalog {

// The real wall clock.
WallClock wallClockNow();
// The settings' node name, party name and expiry days, and now from clock (the real clock when
// empty).
RegistrationContext registrationFrom(CPropatyHotLine& settings, const WallClockSource& clock = {});

} // namespace catalog
