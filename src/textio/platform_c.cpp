// The part of the platform layer that the C library gives alike on every
// platform: the host's error texts and codes, and the end of the process.
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "textio/platform.hpp"

namespace textio::platform {

const char* error_text(int errnum) { return std::strerror(errnum); }
int out_of_memory_error() { return ENOMEM; }
int bad_handle_error() { return EBADF; }

void exit_process(int status) { std::exit(status); }
void exit_immediately(int status) { std::_Exit(status); }

}  // namespace textio::platform
