// The platform binding of sysconf, in a source of its own: a test program
// that defines binding::sysconf itself is linked with its own definition
// instead of this one (an archive member is taken only for a symbol still
// undefined), and so makes the runtime see a processor count of its choosing
// without replacing the C library's sysconf, which sanitizer runtimes call
// before any replacement could take effect.

#include <unistd.h>

#include "runtime/runtime.hpp"

std::int32_t binding::sysconf(const std::int32_t& selector) {
  return static_cast<std::int32_t>(::sysconf(selector));
}
