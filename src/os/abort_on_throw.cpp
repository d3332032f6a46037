// The library is built without exceptions, yet the standard headers still call the C++ runtime's
// throw helpers where a facility can fail (a mutex that cannot be locked, a substring past the end).
// In the .so, whose C++ runtime is linked in statically, these definitions take their place: each
// names the failure on standard error and aborts, which is what an exception nobody catches ends in.
// Without them the helpers would bring in the whole exception runtime (unwinder, personality,
// std::string, the terminate handler and its name demangler): about a third of the library.
// Only the .so is built with this file; programs that link the library's objects keep their own.
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include <unistd.h>

namespace {

[[noreturn]] void fail(const char* what) noexcept {
    constexpr char kPrefix[] = "libsdk_bsp: aborted: ";
    [[maybe_unused]] ssize_t a = ::write(STDERR_FILENO, kPrefix, sizeof kPrefix - 1);
    [[maybe_unused]] ssize_t b = ::write(STDERR_FILENO, what, std::strlen(what));
    [[maybe_unused]] ssize_t c = ::write(STDERR_FILENO, "\n", 1);
    std::abort();
}

}  // namespace

// Every helper the runtime's header declares, so that no use can pull in the runtime's own.
namespace std {
void __throw_bad_exception() { fail("bad_exception"); }
void __throw_bad_alloc() { fail("bad_alloc"); }
void __throw_bad_array_new_length() { fail("bad_array_new_length"); }
void __throw_bad_cast() { fail("bad_cast"); }
void __throw_bad_typeid() { fail("bad_typeid"); }
void __throw_logic_error(const char* s) { fail(s); }
void __throw_domain_error(const char* s) { fail(s); }
void __throw_invalid_argument(const char* s) { fail(s); }
void __throw_length_error(const char* s) { fail(s); }
void __throw_out_of_range(const char* s) { fail(s); }
void __throw_out_of_range_fmt(const char* s, ...) { fail(s); }
void __throw_runtime_error(const char* s) { fail(s); }
void __throw_range_error(const char* s) { fail(s); }
void __throw_overflow_error(const char* s) { fail(s); }
void __throw_underflow_error(const char* s) { fail(s); }
void __throw_ios_failure(const char* s) { fail(s); }
void __throw_ios_failure(const char* s, int) { fail(s); }
void __throw_system_error(int e) { fail(std::strerror(e)); }
void __throw_future_error(int) { fail("future_error"); }
void __throw_bad_function_call() { fail("bad_function_call"); }
}  // namespace std
