# Cross build for 64-bit Windows with clang and lld, against the mingw-w64 headers and
# libraries and the libstdc++ of the mingw-w64 posix-thread GCC (the one the mingw-cross
# preset compiles with). The folders are asked of that GCC, so that no version is named here.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUORL_MINGW_TRIPLE x86_64-w64-mingw32)
set(QUORL_MINGW_GXX ${QUORL_MINGW_TRIPLE}-g++-posix)

set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${QUORL_MINGW_TRIPLE})
set(CMAKE_CXX_COMPILER_TARGET ${QUORL_MINGW_TRIPLE})
# The GNU-compatible front end of llvm-rc, from clang's own LLVM: Debian puts no
# unversioned llvm-windres on the path.
find_program(QUORL_CLANG_PATH clang REQUIRED)
get_filename_component(quorl_llvm_bin "${QUORL_CLANG_PATH}" REALPATH)
get_filename_component(quorl_llvm_bin "${quorl_llvm_bin}" DIRECTORY)
find_program(QUORL_LLVM_WINDRES llvm-windres HINTS "${quorl_llvm_bin}" REQUIRED)
set(CMAKE_RC_COMPILER ${QUORL_LLVM_WINDRES})

# The GCC's header search list: its libstdc++ folders, its own built-in headers (clang
# brings its own) and the mingw-w64 headers, whose parent is the target's root.
# LC_ALL=C: the GCC translates the list's heading into the user's language.
execute_process(COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C ${QUORL_MINGW_GXX} -xc++ -E -v -
    INPUT_FILE /dev/null OUTPUT_QUIET ERROR_VARIABLE gxx_verbose
    RESULT_VARIABLE gxx_result)
if(NOT gxx_result EQUAL 0)
    message(FATAL_ERROR "${QUORL_MINGW_GXX} is needed for the mingw-w64 libstdc++ headers.")
endif()
string(REGEX REPLACE ".*#include <\\.\\.\\.> search starts here:\n(.*)\nEnd of search list.*" "\\1"
    gxx_include_dirs "${gxx_verbose}")
string(REPLACE "\n" ";" gxx_include_dirs "${gxx_include_dirs}")
set(QUORL_LIBSTDCXX_INCLUDE_DIRS "")
foreach(dir IN LISTS gxx_include_dirs)
    string(STRIP "${dir}" dir)
    get_filename_component(dir "${dir}" REALPATH)
    if(dir MATCHES "/include/c\\+\\+")
        list(APPEND QUORL_LIBSTDCXX_INCLUDE_DIRS "${dir}")
    elseif(dir MATCHES "/${QUORL_MINGW_TRIPLE}/include$")
        get_filename_component(CMAKE_SYSROOT "${dir}" DIRECTORY)
    endif()
endforeach()
if(NOT QUORL_LIBSTDCXX_INCLUDE_DIRS OR NOT CMAKE_SYSROOT)
    message(FATAL_ERROR "${QUORL_MINGW_GXX} named no libstdc++ or mingw-w64 header folder.")
endif()

# The GCC's library folders hold libstdc++, libgcc and libgcc_eh beside the mingw-w64 ones.
execute_process(COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C ${QUORL_MINGW_GXX} -print-search-dirs
    OUTPUT_VARIABLE gxx_search_dirs)
string(REGEX REPLACE ".*\nlibraries: =?([^\n]*).*" "\\1" gxx_library_dirs "${gxx_search_dirs}")
string(REPLACE ":" ";" gxx_library_dirs "${gxx_library_dirs}")
set(quorl_link_flags "-fuse-ld=lld")
foreach(dir IN LISTS gxx_library_dirs)
    get_filename_component(dir "${dir}" REALPATH)
    if(IS_DIRECTORY "${dir}")
        string(APPEND quorl_link_flags " -L${dir}")
    endif()
endforeach()
# libstdc++'s exception runtime and its guard for static locals call pthread_once;
# the GCC driver links winpthread by itself, clang's does not.
string(APPEND quorl_link_flags " -lwinpthread")

# The GCC's libstdc++ keeps thread_local variables (std::call_once's among them) in
# emulated TLS; clang's default, native TLS, would not find them.
set(CMAKE_C_FLAGS_INIT "-femulated-tls")
set(CMAKE_CXX_FLAGS_INIT "-femulated-tls")
foreach(dir IN LISTS QUORL_LIBSTDCXX_INCLUDE_DIRS)
    string(APPEND CMAKE_CXX_FLAGS_INIT " -isystem ${dir}")
endforeach()
set(CMAKE_EXE_LINKER_FLAGS_INIT "${quorl_link_flags}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${quorl_link_flags}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${quorl_link_flags}")
# The resource compiler preprocesses with clang for the same target and root.
set(CMAKE_RC_FLAGS_INIT "--target=pe-x86-64 --preprocessor-arg=--sysroot=${CMAKE_SYSROOT}")

set(CMAKE_FIND_ROOT_PATH ${CMAKE_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
