// The plug-in's version, read by its version resource (in_realmedia.rc) and
// by the installer (installer/in_realmedia.nsi), so the two never disagree.
// Plain numeric #defines only: the installer parses this file line by line.
#pragma once

#define IN_REALMEDIA_VERSION_MAJOR 1
#define IN_REALMEDIA_VERSION_MINOR 6
#define IN_REALMEDIA_VERSION_PATCH 0
#define IN_REALMEDIA_VERSION_BUILD 0
