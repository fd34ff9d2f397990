#pragma once
#include "core/records.h"

// The OpenGL vendor and renderer strings of the current context, byte for byte; empty
// where the driver gives nothing.
GlGpuInfo readGlGpuInfo();
