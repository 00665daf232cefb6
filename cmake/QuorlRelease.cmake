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
