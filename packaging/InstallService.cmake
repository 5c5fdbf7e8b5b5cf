# Install-time step: the systemd unit of tarvod, naming the program where this
# installation puts it. A /usr installation (the Debian package) puts the unit
# in /lib/systemd/system, where Debian 12's systemd and lintian look for a
# package's units; any other prefix keeps it under <prefix>/lib/systemd/system.
string(REGEX REPLACE "/+$" "" tarvo_prefix "${CMAKE_INSTALL_PREFIX}")
set(TARVOD_PROGRAM "${tarvo_prefix}/${TARVO_SBINDIR}/tarvod")
if(tarvo_prefix STREQUAL "/usr" OR tarvo_prefix STREQUAL "")
    set(tarvo_unitdir "/lib/systemd/system")
else()
    set(tarvo_unitdir "${tarvo_prefix}/lib/systemd/system")
endif()
configure_file("${TARVO_PACKAGING_DIR}/tarvod.service.in" "${TARVO_BINARY_DIR}/tarvod.service" @ONLY)
file(INSTALL DESTINATION "${tarvo_unitdir}" TYPE FILE FILES "${TARVO_BINARY_DIR}/tarvod.service")
