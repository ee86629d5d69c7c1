// The module's load notification: records which file the module was loaded from, with its
// resources, and prepares the application framework for it.
#pragma once

// address is any address inside the module. Returns true (every notification succeeds).
bool OnModuleAttach(const void* address);
