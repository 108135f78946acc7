// Declared in apple_standins.h, which the build puts before every source.
