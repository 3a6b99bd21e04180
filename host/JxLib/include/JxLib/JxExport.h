#pragma once

#define JXLIB_API __attribute__((visibility("default")))
