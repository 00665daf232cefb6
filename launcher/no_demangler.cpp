// Linked into Release builds of QuorlLaunch by the GNU toolchains only
// (cmake/QuorlRelease.cmake). libstdc++'s terminate handler, run when an
// exception escapes, writes the exception's type to standard error and asks
// the C++ demangler to make that name readable: the demangler alone is a
// sixth of the image that the launcher copies at every start. Defined here,
// the archive's demangler is never linked; the handler then writes the name
// as the compiler wrote it (St9bad_alloc for std::bad_alloc) and the rest of
// its message unchanged. Nothing else in the program demangles.

#include <cstddef>

// The runtime's own name and signature, which the handler calls.
// NOLINTNEXTLINE(bugprone-reserved-identifier)
extern "C" char* __cxa_demangle(const char* /*mangledName*/, char* /*buffer*/,
                                std::size_t* /*length*/, int* status) {
    // -2: not a name it can demangle; the caller prints the name it has.
    if (status != nullptr) {
        *status = -2;
    }
    return nullptr;
}
