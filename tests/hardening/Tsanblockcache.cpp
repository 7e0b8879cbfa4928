// Preloaded into the tests of ThreadSanitizer builds only. Boost.Regex 1.74
// keeps a cache of the memory blocks its matchers work in, inside its
// compiled library: a block freed by a matcher on one thread is handed to a
// matcher on another through atomics that ThreadSanitizer cannot see there,
// so every reuse would look like a data race. These two functions take the
// place of the library's: each block is a plain allocation, whose hand-over
// between threads the sanitizer follows. (From Boost 1.76 the cache is in the
// headers, instrumented with everything else, and nothing is replaced.)
#include <boost/version.hpp>

#if BOOST_VERSION < 107600
#include <new>

#include <boost/regex/config.hpp>

namespace boost {
namespace BOOST_REGEX_DETAIL_NS {

void* BOOST_REGEX_CALL get_mem_block() { return ::operator new(BOOST_REGEX_BLOCKSIZE); }

void BOOST_REGEX_CALL put_mem_block(void* block) { ::operator delete(block); }

}  // namespace BOOST_REGEX_DETAIL_NS
}  // namespace boost
#endif
