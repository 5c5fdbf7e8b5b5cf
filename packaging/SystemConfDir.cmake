# tarvo_system_confdir(<prefix> <sysconfdir> <out-var>)
#
# The folder that holds the machine's configuration for an installation under
# <prefix>, worked out the way GNUInstallDirs does: /usr and / keep it in /etc,
# /opt/<name> in /etc/opt/<name>, any other prefix in <prefix>/<sysconfdir>.
# An absolute <sysconfdir> wins. GNUInstallDirs only does this at configure
# time; the autostart entry needs it again at install time, because
# `cmake --install --prefix` and CPack choose the prefix after configuration.
function(tarvo_system_confdir prefix sysconfdir out)
    string(REGEX REPLACE "/+$" "" prefix "${prefix}")
    if(IS_ABSOLUTE "${sysconfdir}")
        set(dir "${sysconfdir}")
    elseif(prefix STREQUAL "" OR prefix STREQUAL "/usr")
        set(dir "/${sysconfdir}")
    elseif(prefix MATCHES "^/opt/(.+)$")
        set(dir "/${sysconfdir}/opt/${CMAKE_MATCH_1}")
    else()
        set(dir "${prefix}/${sysconfdir}")
    endif()
    set(${out} "${dir}" PARENT_SCOPE)
endfunction()
