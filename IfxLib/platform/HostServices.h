#pragma once

// The one door from the library to the host utility libraries.

#include <JxLib/EvEvent.h>
#include <JxLib/JXPlatformInfo.h>
#include <JxLib/JxChildStart.h>
#include <JxLib/JxProcess.h>
#include <JxLib/JxThread.h>
#include <JxLib/JxTime.h>
#include <JxLib/JxUser.h>
#include <ZuUtils/CZuFile.h>
#include <ZuUtils/FXString.h>
#include <ZuUtils/ZuSleep.h>
#include <ZuUtils/ZuTrim.h>
