// Replaces the C++ library's default terminate handler in the updater. That
// one prints the escaping exception's type to stderr, which a windowed program
// does not have, and brings the symbol demangler with it: about a seventh of
// the executable. Ending is all that is left to do.
#include <cstdlib>

namespace __gnu_cxx {

void __verbose_terminate_handler() {
    std::abort();
}

}  // namespace __gnu_cxx
