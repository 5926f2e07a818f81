# Running the cross-built test programs under Wine: a wrapper that every test
# goes through (CMAKE_CROSSCOMPILING_EMULATOR), a private prefix under the
# build tree, and a check that every program imports only Windows' own DLLs.
set(PELMBUS_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix
    CACHE PATH "Wine prefix of the tests; created on first use")

# 32-bit programs need the 32-bit Wine loader, which runs only where the host
# can run 32-bit Linux programs; the 64-bit loader also creates the prefix.
find_program(PELMBUS_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(PELMBUS_WINE64 NAMES wine64)
find_program(PELMBUS_WINE32 NAMES wine PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(PELMBUS_WINE_LOADER ${PELMBUS_WINE32})
else()
    set(PELMBUS_WINE_LOADER ${PELMBUS_WINE64})
endif()
set(PELMBUS_WINE_BOOT_LOADER ${PELMBUS_WINE64})

set(PELMBUS_WINE_RUNS OFF)
if(PELMBUS_WINE_LOADER AND PELMBUS_WINE_BOOT_LOADER)
    execute_process(COMMAND ${PELMBUS_WINE_LOADER} --version
                    RESULT_VARIABLE wine_result OUTPUT_QUIET ERROR_QUIET)
    if(wine_result EQUAL 0)
        set(PELMBUS_WINE_RUNS ON)
    endif()
endif()
# Read by scripts/test: whether this build's tests can run here.
set(PELMBUS_WINE_RUNS ${PELMBUS_WINE_RUNS} CACHE INTERNAL "")
if(NOT PELMBUS_WINE_RUNS)
    message(STATUS "Wine cannot run this build's programs on this host: "
                   "only the import tables are tested")
endif()

configure_file(${CMAKE_CURRENT_LIST_DIR}/wine-run.in ${CMAKE_BINARY_DIR}/wine-run @ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run)

# DLLs that come with every Windows; anything else in an import table means
# a library was linked dynamically by mistake.
set(PELMBUS_SYSTEM_DLLS
    KERNEL32.dll msvcrt.dll USER32.dll GDI32.dll ADVAPI32.dll ole32.dll OLEAUT32.dll
    COMCTL32.dll COMDLG32.dll SHELL32.dll SHLWAPI.dll UxTheme.dll WS2_32.dll WINMM.dll)

# Registers a check of `target`'s import table, and with SUBSYSTEM of the
# subsystem in its header ("Windows GUI" for a program that must never open
# a console window).
function(pelmbus_check_imports target)
    cmake_parse_arguments(ARG "" "SUBSYSTEM" "" ${ARGN})
    add_test(NAME ${target}_imports
             COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${CMAKE_OBJDUMP}
                     -DEXE=$<TARGET_FILE:${target}> "-DALLOWED=${PELMBUS_SYSTEM_DLLS}"
                     "-DSUBSYSTEM=${ARG_SUBSYSTEM}"
                     -P ${PROJECT_SOURCE_DIR}/cmake/CheckImports.cmake)
    set_tests_properties(${target}_imports PROPERTIES LABELS "imports")
endfunction()

# A Linux program that drives a Windows program under Wine over a
# pseudo-terminal (the serial test, the latency tool): built with the host's
# compiler beside the cross build, with the tests' pseudo-terminal helpers
# and libmodbus. OUTPUT is its path; warnings are errors in CI.
function(pelmbus_host_pty_program)
    cmake_parse_arguments(PARSE_ARGV 0 ARG "" "OUTPUT;OPTIMIZE;COMMENT" "SOURCES;LIBS")
    set(pty ${PROJECT_SOURCE_DIR}/tests/integration)
    set(sources ${ARG_SOURCES} ${pty}/PseudoTerminal.cpp ${pty}/PtyBridge.cpp)
    set(warnings -Wall -Wextra -Wpedantic)
    if(DEFINED ENV{CI} AND NOT "$ENV{CI}" STREQUAL "")
        list(APPEND warnings -Werror)
    endif()
    add_custom_command(
        OUTPUT ${ARG_OUTPUT}
        COMMAND ${PELMBUS_HOST_CXX} -std=c++20 ${ARG_OPTIMIZE} ${warnings} -I${pty}
                -I${PELMBUS_HOST_MODBUS_INCLUDE} -o ${ARG_OUTPUT} ${sources} ${ARG_LIBS}
                -lmodbus -lutil -pthread
        DEPENDS ${sources} ${pty}/PtyBridge.h ${pty}/PseudoTerminal.h
        COMMENT "${ARG_COMMENT}")
endfunction()
