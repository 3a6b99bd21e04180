#pragma once

#include <string>

#include <ZuUtils/ZuExport.h>

// Strips the bytes for which isspace is true from both ends of str, in place.
ZUUTILS_API void trim_both(std::string& str);
