/*
 * The part of CoreFoundation that tarnwell uses, declared as Apple's
 * documentation declares it, for the Linux check that cross-compiles the
 * tool for macOS (scripts/macos-check.sh). A native build uses the SDK's
 * own header and never sees this file.
 *
 * Only what the tool calls is here, so a new call fails to compile, and
 * then to link against CoreFoundation.tbd beside it, until it is added to
 * both: that is the moment to check its signature against the
 * documentation. C linkage carries no types, so a signature declared
 * wrongly here still links; this file is only as right as its review.
 */
#ifndef TARNWELL_CHECK_COREFOUNDATION_H
#define TARNWELL_CHECK_COREFOUNDATION_H

#ifdef __cplusplus
extern "C" {
#endif

typedef unsigned char UInt8;
typedef unsigned int UInt32;
typedef unsigned char Boolean;

typedef signed long CFIndex;
typedef unsigned long CFTypeID;
typedef unsigned long CFOptionFlags;
typedef const void* CFTypeRef;
typedef CFTypeRef CFPropertyListRef;
typedef UInt32 CFStringEncoding;
typedef CFIndex CFPropertyListFormat;

typedef const struct __CFAllocator* CFAllocatorRef;
typedef const struct __CFString* CFStringRef;
typedef const struct __CFArray* CFArrayRef;
typedef const struct __CFDictionary* CFDictionaryRef;
typedef const struct __CFData* CFDataRef;
typedef struct __CFError* CFErrorRef;

typedef struct {
  CFIndex location;
  CFIndex length;
} CFRange;

static inline CFRange CFRangeMake(CFIndex loc, CFIndex len) {
  CFRange range = {loc, len};
  return range;
}

enum { kCFStringEncodingUTF8 = 0x08000100 };
enum { kCFPropertyListImmutable = 0 };

/* CFBase.h */
void CFRelease(CFTypeRef cf);
CFTypeID CFGetTypeID(CFTypeRef cf);

/* CFData.h */
CFDataRef CFDataCreate(CFAllocatorRef allocator, const UInt8* bytes, CFIndex length);

/* CFPropertyList.h */
CFPropertyListRef CFPropertyListCreateWithData(CFAllocatorRef allocator, CFDataRef data, CFOptionFlags options,
                                               CFPropertyListFormat* format, CFErrorRef* error);

/* CFArray.h */
CFTypeID CFArrayGetTypeID(void);
CFIndex CFArrayGetCount(CFArrayRef theArray);
const void* CFArrayGetValueAtIndex(CFArrayRef theArray, CFIndex idx);

/* CFDictionary.h */
CFTypeID CFDictionaryGetTypeID(void);
const void* CFDictionaryGetValue(CFDictionaryRef theDict, const void* key);

/* CFString.h */
CFTypeID CFStringGetTypeID(void);
CFStringRef CFStringCreateWithBytes(CFAllocatorRef alloc, const UInt8* bytes, CFIndex numBytes,
                                    CFStringEncoding encoding, Boolean isExternalRepresentation);
CFIndex CFStringGetLength(CFStringRef theString);
CFIndex CFStringGetBytes(CFStringRef theString, CFRange range, CFStringEncoding encoding, UInt8 lossByte,
                         Boolean isExternalRepresentation, UInt8* buffer, CFIndex maxBufLen, CFIndex* usedBufLen);

#ifdef __cplusplus
}
#endif

#endif
