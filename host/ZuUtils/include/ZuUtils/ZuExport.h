#pragma once

#define ZUUTILS_API __attribute__((visibility("default")))
