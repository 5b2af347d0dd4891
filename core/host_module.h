// The module record the host reads and fills, and what Init learns of the
// user's locale.  The record is defined beside the host operations it names
// (plugin/module_record.cpp); every floor reads the host's fields (main
// window, callbacks, output module) from it.
#pragma once

#include "core/winamp.h"

namespace core {

extern winamp::In_Module g_module;

// Written by Init on the host's thread before anything reads it.
extern bool g_koreanLocale;

}  // namespace core
