// Symbol export for the platform's standard library. The library is built
// with hidden visibility; what is marked here is its public surface. The same
// attribute on the consumer's side is harmless and keeps RTTI of exported
// classes (exceptions, persistent classes) unique across shared objects.
#pragma once

#define VEXSTD_API __attribute__((visibility("default")))
