// The module's load notification on Windows: the system calls DllMain when it attaches the
// module to a process.
#include <windows.h>

#include "host/module_load.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
    if (reason == DLL_PROCESS_ATTACH) OnModuleAttach(instance);
    return TRUE;
}
