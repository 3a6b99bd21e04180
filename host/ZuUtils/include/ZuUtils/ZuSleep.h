#pragma once

#include <ZuUtils/ZuExport.h>

// Pauses the calling thread for duration microseconds; a signal does not cut the pause
// short. file and line name the caller for diagnostics.
ZUUTILS_API void ZUSLEEP_InTeRnAl(unsigned long duration, const char* file, int line);
