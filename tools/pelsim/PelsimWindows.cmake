# pelsim.exe: the COM local server. widl compiles the IDL into the header
# the server implements and the type library it carries as resource 1, so
# that LoadTypeLibEx(pelsim.exe) finds it and registration can register it.
get_filename_component(PELSIM_COMPILER_NAME ${CMAKE_CXX_COMPILER} NAME)
string(REGEX REPLACE "-g\\+\\+.*$" "" PELSIM_TOOL_PREFIX ${PELSIM_COMPILER_NAME})
find_program(PELSIM_WIDL NAMES ${PELSIM_TOOL_PREFIX}-widl widl REQUIRED)
find_program(PELSIM_WINDRES NAMES ${PELSIM_TOOL_PREFIX}-windres windres REQUIRED)
# stdole2.tlb is only read for the types pelsim's library imports: the
# 64-bit Wine's copy gives the 32-bit build the same type library, so it
# stands in where 32-bit Wine is not installed.
set(PELSIM_STDOLE_DIRS_64 /usr/lib/x86_64-linux-gnu/wine/x86_64-windows
                          /usr/lib/wine/x86_64-windows)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(PELSIM_WIDL_TARGET --win32)
    set(PELSIM_STDOLE_DIRS /usr/lib/i386-linux-gnu/wine/i386-windows /usr/lib/wine/i386-windows
                           ${PELSIM_STDOLE_DIRS_64})
else()
    set(PELSIM_WIDL_TARGET --win64)
    set(PELSIM_STDOLE_DIRS ${PELSIM_STDOLE_DIRS_64})
endif()
find_path(PELSIM_STDOLE_DIR stdole2.tlb PATHS ${PELSIM_STDOLE_DIRS} NO_DEFAULT_PATH
          NO_CMAKE_FIND_ROOT_PATH REQUIRED)
find_path(PELSIM_WINE_IDL_DIR oaidl.idl PATHS /usr/include/wine/wine/windows
          /usr/include/wine/windows NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)

set(PELSIM_IDL ${CMAKE_CURRENT_SOURCE_DIR}/com/PelSim.idl)
set(PELSIM_GEN ${CMAKE_CURRENT_BINARY_DIR}/generated)
set(PELSIM_WIDL_FLAGS ${PELSIM_WIDL_TARGET} -I ${PELSIM_WINE_IDL_DIR} -L ${PELSIM_STDOLE_DIR})
add_custom_command(
    OUTPUT ${PELSIM_GEN}/PelSim.h ${PELSIM_GEN}/PelSim.tlb
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PELSIM_GEN}
    COMMAND ${PELSIM_WIDL} ${PELSIM_WIDL_FLAGS} -h -o ${PELSIM_GEN}/PelSim.h ${PELSIM_IDL}
    COMMAND ${PELSIM_WIDL} ${PELSIM_WIDL_FLAGS} -t -o ${PELSIM_GEN}/PelSim.tlb ${PELSIM_IDL}
    DEPENDS ${PELSIM_IDL}
    COMMENT "widl: pelsim's interfaces and type library")
add_custom_command(
    OUTPUT ${PELSIM_GEN}/pelsim_rc.o
    COMMAND ${PELSIM_WINDRES} -I ${PELSIM_GEN} -O coff
            -i ${CMAKE_CURRENT_SOURCE_DIR}/com/pelsim.rc -o ${PELSIM_GEN}/pelsim_rc.o
    DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/com/pelsim.rc ${PELSIM_GEN}/PelSim.tlb
    COMMENT "windres: pelsim's type library as a resource")

add_executable(pelsim com/main.cpp com/ComSimulator.cpp com/Registration.cpp
               ${PELSIM_GEN}/PelSim.h ${PELSIM_GEN}/pelsim_rc.o)
target_include_directories(pelsim PRIVATE ${PELSIM_GEN} ${CMAKE_CURRENT_SOURCE_DIR}/com)
target_link_libraries(pelsim PRIVATE pelsimdata pellink ole32 oleaut32 uuid advapi32 shell32)
# The GUI subsystem: a console program that COM starts opens a console window.
target_link_options(pelsim PRIVATE -static -static-libgcc -static-libstdc++ -mwindows)

# Registering, starting and ending pelsim.exe from the Windows tests and
# benchmarks, which run inside Wine and see the build tree under Z:.
add_library(pelsimcontrol STATIC com/SimulatorControl.cpp)
target_include_directories(pelsimcontrol PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/com)
target_compile_definitions(pelsimcontrol PRIVATE PELSIM_EXECUTABLE="$<TARGET_FILE:pelsim>")
target_link_libraries(pelsimcontrol PUBLIC pellink)
add_dependencies(pelsimcontrol pelsim)

# pelsim.exe, too, must run on a station with nothing but Windows' own DLLs.
if(COMMAND pelmbus_check_imports)
    pelmbus_check_imports(pelsim SUBSYSTEM "Windows GUI")
    # Without a console of its own it still prints where it was started.
    if(PELMBUS_WINE_RUNS)
        add_test(NAME pelsim_prints_without_a_console COMMAND pelsim --help)
        set_tests_properties(pelsim_prints_without_a_console PROPERTIES LABELS "wine"
                             PASS_REGULAR_EXPRESSION "/RegServer")
    endif()
endif()
