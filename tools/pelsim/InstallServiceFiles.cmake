# Run by `cmake --install`: writes one D-Bus service file per program that
# starts the installed pelsim, and installs it among the session services.
foreach(dir BINDIR DATADIR)
    if(IS_ABSOLUTE "${PELSIM_${dir}}")
        set(full_${dir} "${PELSIM_${dir}}")
    else()
        set(full_${dir} "${CMAKE_INSTALL_PREFIX}/${PELSIM_${dir}}")
    endif()
endforeach()
# Normalised: a BINDIR of "." names the prefix itself.
cmake_path(SET PELSIM_EXECUTABLE NORMALIZE "${full_BINDIR}/pelsim")
foreach(service ${PELSIM_SERVICES})
    string(REPLACE ":" ";" parts ${service})
    list(GET parts 0 PELSIM_BUS_NAME)
    list(GET parts 1 PELSIM_PROGRAM)
    configure_file("${PELSIM_SERVICE_TEMPLATE}" "${PELSIM_STAGING}/${PELSIM_BUS_NAME}.service"
                   @ONLY)
    file(INSTALL "${PELSIM_STAGING}/${PELSIM_BUS_NAME}.service"
         DESTINATION "${full_DATADIR}/dbus-1/services")
endforeach()
