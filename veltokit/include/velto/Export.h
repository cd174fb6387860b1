#pragma once

// The library hides its symbols by default; what callers may use is marked with VELTO_EXPORT.
#define VELTO_EXPORT __attribute__((visibility("default")))
// For a class nested in an exported one and defined in the library's sources only: it stays
// out of the export list.
#define VELTO_HIDDEN __attribute__((visibility("hidden")))
