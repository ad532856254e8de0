// The handler std::terminate calls by default in the stub. The C++ runtime's own one prints the
// type and message of the exception in flight to the standard error stream before it aborts; a
// GUI process has no such stream, and that handler links the runtime's symbol demangler (about
// 50 KB of a download users wait for). This definition takes the place of the runtime's, so the
// stub aborts at once, as it would after the message.
#include <cstdlib>
#include <exception>

void __gnu_cxx::__verbose_terminate_handler() { std::abort(); }
