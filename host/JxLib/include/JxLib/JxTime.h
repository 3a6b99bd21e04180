#pragma once

#include <ctime>

#include <JxLib/JxExport.h>

// localtime_r: the broken-down local time of *time in *result, or null.
JXLIB_API struct tm* JX_localtime(const time_t* time, struct tm* result);
