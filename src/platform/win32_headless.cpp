// The headless dialog layer, compiled into the Windows driver under the names of
// win32_headless_names.h, for kvrac.exe's runs without a person.
//
// headless_dialogs.cpp is written for systems without a window system and compiles to
// nothing when _WIN32 is defined. Its standard headers are included here first, while
// _WIN32 still holds (the runtime's headers need it); the file itself is then read
// with _WIN32 undefined and its control-layer functions renamed.
#include <algorithm>
#include <cassert>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#define KVRAC_HEADLESS_RENAME 1
#include "platform/win32_headless_names.h"

#undef _WIN32
#include "headless_dialogs.cpp"
#define _WIN32 1
