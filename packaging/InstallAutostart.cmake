# Install-time step: puts the autostart entry into <system config>/xdg/autostart
# for the prefix in force now, which is where desktops look for entries to start
# at log-in (/etc/xdg/autostart for a /usr installation). file(INSTALL) adds
# DESTDIR and records the file in the install manifest like any install() rule.
include("${TARVO_PACKAGING_DIR}/SystemConfDir.cmake")
tarvo_system_confdir("${CMAKE_INSTALL_PREFIX}" "${TARVO_SYSCONFDIR}" tarvo_confdir)
file(INSTALL DESTINATION "${tarvo_confdir}/xdg/autostart" TYPE FILE
     RENAME "tarvo.desktop" FILES "${TARVO_PACKAGING_DIR}/tarvo-autostart.desktop")
