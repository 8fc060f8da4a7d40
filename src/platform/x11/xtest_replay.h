// Journal records replayed as XTEST requests. Xlib stays inside the .cpp.
#pragma once

#include "platform/types.h"

struct _XDisplay;

namespace vesk::x11 {

// Queues one record as XTEST requests on the connection, not flushed. Keys
// go by the key code of their scan code (by their virtual key when the
// record has no scan code). False, with a line on stderr, when the record
// is not input or its key has no key code here.
bool QueueXTestReplay(_XDisplay* dpy, const EVENTMSG& e);

}  // namespace vesk::x11
