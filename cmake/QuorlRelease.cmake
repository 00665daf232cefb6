# Release engineering for the shipped launcher: a reproducible image, an optional
# Authenticode signature, install rules and the ZIP package.
# Included from the top-level CMakeLists.txt once the QuorlLaunch target exists.

# ---- Reproducible image ---------------------------------------------------------
if(NOT MSVC)
    # GNU ld writes the link time into the PE header, and so into the header checksum:
    # the only two fields that differed between two clean builds of one commit.
    target_link_options(quorl_build_settings INTERFACE -Wl,--no-insert-timestamp)
    # Where the tree was checked out and built must not reach the image through
    # __FILE__ or debug information. The build directory is mapped last because it
    # often lies inside the source directory and GCC tries the last mapping first.
    target_compile_options(quorl_build_settings INTERFACE
        "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_SOURCE_DIR}=.>"
        "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_BINARY_DIR}=.>")
    # The static C runtime brings its own DWARF sections and a symbol table (over
    # two thirds of the file); the shipped program needs neither.
    target_link_options(QuorlLaunch PRIVATE "$<$<CONFIG:Release,MinSizeRel>:-s>")
endif()

# ---- Small image -----------------------------------------------------------------
# The launcher writes a fresh copy of itself at every start, and a scanner reads that
# copy before it runs: every byte of the image is paid for at every start. Each function
# and datum gets a section of its own so that the linker can leave out what nothing
# calls; tests/release/reproducible_build.sh fails when the image outgrows 256 KiB.
if(MSVC)
    target_compile_options(quorl_build_settings INTERFACE
        "$<$<AND:$<CONFIG:Release,MinSizeRel>,$<COMPILE_LANGUAGE:C,CXX>>:/Gy;/Gw>")
    # A Release link does both by default; named so that no later option turns them off.
    target_link_options(QuorlLaunch PRIVATE "$<$<CONFIG:Release,MinSizeRel>:/OPT:REF;/OPT:ICF>")
else()
    target_compile_options(quorl_build_settings INTERFACE
        "$<$<AND:$<CONFIG:Release,MinSizeRel>,$<COMPILE_LANGUAGE:C,CXX>>:-ffunction-sections;-fdata-sections>")
    target_link_options(QuorlLaunch PRIVATE "$<$<CONFIG:Release,MinSizeRel>:-Wl,--gc-sections>")
    # -Os in place of CMake's -O3, which it follows on the command line: the start
    # waits on system calls, not on our code, and scripts/bench.sh times -Os no slower
    # than -O2 or -O3 for a smaller image.
    target_compile_options(quorl_build_settings INTERFACE
        "$<$<AND:$<CONFIG:Release>,$<COMPILE_LANGUAGE:C,CXX>>:-Os>")
    # libstdc++'s terminate handler would bring the whole C++ demangler (45 KB) to
    # spell out the type of an exception that escaped; this stand-in leaves the name
    # as the compiler wrote it.
    target_sources(QuorlLaunch PRIVATE
        "$<$<CONFIG:Release,MinSizeRel>:${CMAKE_SOURCE_DIR}/launcher/no_demangler.cpp>")
endif()

# ---- Mitigations -----------------------------------------------------------------
# What a security review scans the image for, each as far as the toolchain offers it:
# the stack protector everywhere; Control Flow Guard and CET shadow-stack compatibility
# where the linker writes them (MSVC, lld; GNU ld 2.40 writes neither). The tests compile
# with the same flags, so that they run the code as the image runs it; only the image is
# linked with the guard's table and CET compatibility.
# tests/release/mitigations.sh fails when the shipped image loses one.
if(MSVC)
    # /GS is the default; named, with /sdl's further checks, so that nothing turns it off.
    target_compile_options(quorl_build_settings INTERFACE
        "$<$<COMPILE_LANGUAGE:C,CXX>:/GS;/sdl;/guard:cf>")
    target_link_options(QuorlLaunch PRIVATE /guard:cf /CETCOMPAT)
else()
    target_compile_options(quorl_build_settings INTERFACE
        "$<$<COMPILE_LANGUAGE:C,CXX>:-fstack-protector-strong>")
    target_link_options(quorl_build_settings INTERFACE -fstack-protector-strong)
    # The launcher brings its own guard and report, which load no DLL; with them
    # defined, the linker takes nothing of libssp. Test programs keep libssp.
    target_sources(QuorlLaunch PRIVATE ${CMAKE_SOURCE_DIR}/launcher/stack_guard.cpp)

    include(CheckCompilerFlag)
    include(CheckLinkerFlag)
    include(CheckSourceCompiles)
    check_linker_flag(CXX "LINKER:--Xlink=-guard:cf" QUORL_LINKER_GUARD_CF)
    check_linker_flag(CXX "LINKER:--Xlink=-cetcompat" QUORL_LINKER_CETCOMPAT)
    # clang 16 and later take -mguard=cf; clang 14 only its front end's own option.
    check_compiler_flag(CXX -mguard=cf QUORL_COMPILER_MGUARD_CF)
    if(QUORL_COMPILER_MGUARD_CF)
        set(quorl_guard_cf_flag -mguard=cf)
    elseif(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        set(quorl_guard_cf_flag -Xclang -cfguard)
    endif()
    if(QUORL_LINKER_GUARD_CF AND DEFINED quorl_guard_cf_flag)
        list(JOIN quorl_guard_cf_flag " " quorl_guard_cf_flag_string)
        target_compile_options(quorl_build_settings INTERFACE
            "$<$<COMPILE_LANGUAGE:C,CXX>:SHELL:${quorl_guard_cf_flag_string}>")
        # No longjmp table: the runtime's setjmp is not instrumented, so Windows would
        # find no target in one and end the process at a longjmp. lld 14 writes none
        # unasked, later ones unless told; one argument, since the last /guard counts.
        target_link_options(QuorlLaunch PRIVATE "SHELL:-Xlinker --Xlink=-guard:cf,nolongjmp")
        # mingw-w64 11 and later define the guard's pointers and load configuration in
        # their runtime; older ones do not, and then the program brings its own.
        set(CMAKE_REQUIRED_FLAGS ${quorl_guard_cf_flag_string})
        set(CMAKE_REQUIRED_LINK_OPTIONS "LINKER:--Xlink=-guard:cf")
        check_source_compiles(C
            "static int f(void) { return 0; } int (*volatile g)(void) = f;
             int main(void) { return g(); }"
            QUORL_RUNTIME_HAS_GUARD_CF)
        unset(CMAKE_REQUIRED_FLAGS)
        unset(CMAKE_REQUIRED_LINK_OPTIONS)
        if(NOT QUORL_RUNTIME_HAS_GUARD_CF)
            # Outside our settings, which link it to every target of ours.
            add_library(quorl_guard_load_config STATIC
                ${CMAKE_SOURCE_DIR}/launcher/guard_load_config.c)
            target_compile_options(quorl_guard_load_config PRIVATE
                -Wall -Wextra -Wpedantic -Werror)
            target_link_libraries(quorl_build_settings INTERFACE quorl_guard_load_config)
        else()
            # mingw-w64 12 brings the pointers but no load configuration: without one
            # the image is marked GUARD_CF and Windows finds no table. The launcher
            # then brings the load configuration alone, as an object that is always linked.
            check_source_compiles(C
                "extern const char _load_config_used[];
                 int main(void) { return _load_config_used[0]; }"
                QUORL_RUNTIME_HAS_LOAD_CONFIG)
            if(NOT QUORL_RUNTIME_HAS_LOAD_CONFIG)
                target_sources(QuorlLaunch PRIVATE ${CMAKE_SOURCE_DIR}/launcher/guard_load_config.c)
                set_source_files_properties(${CMAKE_SOURCE_DIR}/launcher/guard_load_config.c
                    PROPERTIES COMPILE_DEFINITIONS QUORL_RUNTIME_GUARD_POINTERS)
            endif()
        endif()
    endif()
    if(QUORL_LINKER_CETCOMPAT)
        target_link_options(QuorlLaunch PRIVATE "LINKER:--Xlink=-cetcompat")
    endif()
endif()

# ---- Optional signature ----------------------------------------------------------
set(QUORL_SIGN_CERT "" CACHE FILEPATH
    "PEM certificate (chain) to sign QuorlLaunch.exe with; empty builds unsigned")
set(QUORL_SIGN_KEY "" CACHE FILEPATH "PEM private key (unencrypted) of QUORL_SIGN_CERT")

if(QUORL_SIGN_CERT OR QUORL_SIGN_KEY)
    if(NOT QUORL_SIGN_CERT OR NOT QUORL_SIGN_KEY)
        message(FATAL_ERROR "Signing needs both QUORL_SIGN_CERT and QUORL_SIGN_KEY.")
    endif()
    foreach(file IN ITEMS "${QUORL_SIGN_CERT}" "${QUORL_SIGN_KEY}")
        if(NOT EXISTS "${file}")
            message(FATAL_ERROR "Signing file not found: ${file}")
        endif()
    endforeach()
    if(NOT CMAKE_GENERATOR MATCHES "Ninja|Makefiles")
        message(FATAL_ERROR "Signing runs as a linker launcher, which only the Ninja and "
                            "Makefile generators support (not ${CMAKE_GENERATOR}).")
    endif()
    find_program(QUORL_OSSLSIGNCODE osslsigncode REQUIRED)
    set_property(TARGET QuorlLaunch PROPERTY CXX_LINKER_LAUNCHER
        "${CMAKE_COMMAND}"
        "-DOSSLSIGNCODE=${QUORL_OSSLSIGNCODE}"
        "-DCERT=${QUORL_SIGN_CERT}"
        "-DKEY=${QUORL_SIGN_KEY}"
        -P "${CMAKE_CURRENT_LIST_DIR}/sign-after-link.cmake" --)
    # A new certificate or key must re-sign, which only happens on a new link.
    set_property(TARGET QuorlLaunch APPEND PROPERTY
        LINK_DEPENDS "${QUORL_SIGN_CERT}" "${QUORL_SIGN_KEY}")
endif()

# ---- Install and package ---------------------------------------------------------
install(TARGETS QuorlLaunch RUNTIME DESTINATION bin)
install(FILES "${CMAKE_SOURCE_DIR}/README.md" DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME QuorlLaunch)
set(CPACK_PACKAGE_VENDOR Quorl)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Start-up launcher of the Quorl mail client")
set(CPACK_PACKAGE_FILE_NAME "QuorlLaunch-${PROJECT_VERSION}-win64")
set(CPACK_SOURCE_GENERATOR ZIP)
include(CPack)
