#pragma once

// Apple's own headers, for the sources whose branches make Apple's calls.
// They are included here and nowhere else, and only by .cpp files: a header
// that differed between the branches would differ between a source built
// with them and a test built without.
//
// TARNWELL_APPLE selects those branches: on macOS, and on Linux in the
// build that runs them against the tests' stand-ins of the same calls
// (TARNWELL_APPLE_STANDINS, tests/apple), so that what Linux tests is what
// macOS runs.

#if defined(__APPLE__) || defined(TARNWELL_APPLE_STANDINS)
#define TARNWELL_APPLE 1
#include <CoreFoundation/CoreFoundation.h>
#include <copyfile.h>
#include <mach-o/dyld.h>
#include <sys/acl.h>
#include <sys/event.h>
#include <sys/xattr.h>
#else
#define TARNWELL_APPLE 0
#endif
