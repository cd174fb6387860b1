#pragma once

// The library hides its symbols by default; what callers may use is marked with VELTO_EXPORT.
#define VELTO_EXPORT __attribute__((visibility("default")))
