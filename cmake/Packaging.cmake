# What a station installs, built by CPack (scripts/package runs it):
# - Windows: PelMBus-<version>-windows.zip to unpack into a writable folder:
#   PelMBus.exe, pelsim.exe where it is built, ПРОЧТИ.txt (Windows-1251,
#   CR LF) and the licences of the runtime linked into the programs;
# - Linux: a .deb that puts PelMBus and pelsim into /opt/pelmbus (their files
#   beside them, in a directory the group "pelmbus" may write), the D-Bus
#   service files and a desktop entry.
set(CPACK_PACKAGE_NAME PelMBus)
set(CPACK_PACKAGE_VENDOR PelMBus)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Modbus RTU slave serving a metering station's data to a supervisory system")
set(CPACK_PACKAGE_CONTACT "PelMBus maintainers <pelmbus@localhost>")

if(WIN32)
    install(TARGETS PelMBus RUNTIME DESTINATION .)
    if(TARGET pelsim)
        install(TARGETS pelsim RUNTIME DESTINATION .)
    endif()
    # The note for the station, as Notepad on any Windows reads it.
    set(readme_utf8 ${CMAKE_BINARY_DIR}/packaging/readme-utf8.txt)
    set(readme ${CMAKE_BINARY_DIR}/packaging/ПРОЧТИ.txt)
    configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/ПРОЧТИ.txt ${readme_utf8} @ONLY
                   NEWLINE_STYLE CRLF)
    find_program(ICONV iconv REQUIRED)
    execute_process(COMMAND ${ICONV} -f UTF-8 -t CP1251 INPUT_FILE ${readme_utf8}
                    OUTPUT_FILE ${readme} RESULT_VARIABLE converted)
    if(NOT converted EQUAL 0)
        message(FATAL_ERROR "ПРОЧТИ.txt: not convertible to Windows-1251")
    endif()
    install(FILES ${readme} DESTINATION .)
    # libstdc++ and libgcc (GCC runtime exception), the mingw-w64 C runtime
    # and winpthreads are linked into the programs.
    install(FILES /usr/share/doc/gcc-mingw-w64-base/copyright
            DESTINATION licenses RENAME gcc-runtime.txt)
    install(FILES /usr/share/common-licenses/GPL-3 DESTINATION licenses RENAME GPL-3.txt)
    install(FILES /usr/share/doc/mingw-w64-common/copyright
            DESTINATION licenses RENAME mingw-w64-runtime-and-winpthreads.txt)

    set(CPACK_GENERATOR ZIP)
    set(CPACK_PACKAGE_FILE_NAME PelMBus-${PROJECT_VERSION}-windows)
    # Unpacked straight into the chosen folder.
    set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
    # Everything under /opt/pelmbus except what the system looks for
    # elsewhere: configure with CMAKE_INSTALL_BINDIR "." and
    # CMAKE_INSTALL_DATADIR "/usr/share" (scripts/package does), so that
    # pelsim lies beside PelMBus and its service files reach the session bus.
    install(TARGETS PelMBus RUNTIME DESTINATION .)
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/linux/pelmbus.desktop
            DESTINATION /usr/share/applications)
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/linux/pelmbus.png
            DESTINATION /usr/share/icons/hicolor/256x256/apps)

    set(CPACK_GENERATOR DEB)
    set(CPACK_PACKAGING_INSTALL_PREFIX /opt/pelmbus)
    set(CPACK_DEBIAN_PACKAGE_NAME pelmbus)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_SECTION misc)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "dbus")
    set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/linux/postinst)
    set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()

include(CPack)
