// Symbol export for libvexfilt11. The library is built with hidden
// visibility; declarations marked VEXFILT_API are its public surface.
#pragma once

#define VEXFILT_API __attribute__((visibility("default")))
