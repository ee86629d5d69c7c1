// The message of the last failure of a thread's call into the library, and the names of the
// status codes.
#pragma once

#include <string>

#include "kavel/kavel.h"

// Records a failure of this thread's current call and returns its status.
kavel_status set_last_error(kavel_status status, std::string message);
// A call that succeeds clears nothing: the message stays that of the last failure.
