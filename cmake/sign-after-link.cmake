# Linker launcher for QuorlLaunch: runs the link command it is given, then signs the
# program just linked. Signing inside the link step (rather than in a separate step)
# means every way of building the target, and so every install and package, yields
# the signed file; CMake 3.25 cannot add a post-build step from outside the directory
# that creates the target.
#
#   cmake -DOSSLSIGNCODE=... -DCERT=... -DKEY=... -P sign-after-link.cmake -- <link command>

set(link_command "")
set(after_separator FALSE)
math(EXPR last "${CMAKE_ARGC} - 1")
foreach(i RANGE ${last})
    if(after_separator)
        list(APPEND link_command "${CMAKE_ARGV${i}}")
    elseif(CMAKE_ARGV${i} STREQUAL "--")
        set(after_separator TRUE)
    endif()
endforeach()

# GNU-style drivers name the output after -o, MSVC's link.exe in /out:.
set(output "")
set(take_next FALSE)
foreach(arg IN LISTS link_command)
    if(take_next)
        set(output "${arg}")
        set(take_next FALSE)
    elseif(arg STREQUAL "-o")
        set(take_next TRUE)
    elseif(arg MATCHES "^[/-][Oo][Uu][Tt]:(.+)$")
        set(output "${CMAKE_MATCH_1}")
    endif()
endforeach()
if(output STREQUAL "")
    message(FATAL_ERROR "sign-after-link: no output file in the link command: ${link_command}")
endif()

execute_process(COMMAND ${link_command} RESULT_VARIABLE link_result)
if(NOT link_result EQUAL 0)
    message(FATAL_ERROR "sign-after-link: link failed (${link_result})")
endif()

execute_process(
    COMMAND "${OSSLSIGNCODE}" sign -certs "${CERT}" -key "${KEY}"
            -h sha256 -n "Quorl Launcher" -in "${output}" -out "${output}.signed"
    RESULT_VARIABLE sign_result
    OUTPUT_VARIABLE sign_output
    ERROR_VARIABLE sign_output)
if(NOT sign_result EQUAL 0)
    # An unsigned file with a fresh time stamp would look up to date to the next build.
    file(REMOVE "${output}" "${output}.signed")
    message(FATAL_ERROR "sign-after-link: osslsigncode failed (${sign_result}):\n${sign_output}")
endif()
# osslsigncode writes a plain file; keep the linked program executable for Wine and tools.
file(CHMOD "${output}.signed" FILE_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
# osslsigncode cannot sign in place; the rename never leaves a half-written program.
file(RENAME "${output}.signed" "${output}")
