# tarvo_windows_resources(<target>)
#
# Gives a Windows program the resources Explorer, the Start menu and the
# taskbar read: a version resource filled from the project's identity (the
# values AppVersion.h carries, so the About box and Properties > Details say
# the same), the icon (resource 101, made from about/icons/tarvo.svg in 16,
# 24, 32, 48 and 256 pixels) and the application manifest (asInvoker, Common
# Controls 6, per-monitor-v2 DPI awareness, Windows 7 to 11). Elsewhere it
# does nothing.
if(NOT WIN32)
    function(tarvo_windows_resources target)
    endfunction()
    return()
endif()

enable_language(RC)
find_program(TARVO_RSVG_CONVERT rsvg-convert REQUIRED)
find_program(TARVO_ICOTOOL icotool REQUIRED)

set(TARVO_RESOURCE_DIR ${CMAKE_BINARY_DIR}/generated/resources)
set(TARVO_ICON ${TARVO_RESOURCE_DIR}/tarvo.ico)
set(TARVO_MANIFEST ${TARVO_RESOURCE_DIR}/tarvo.manifest)
set(TARVO_RC_TEMPLATE ${CMAKE_CURRENT_LIST_DIR}/tarvo.rc.in)
file(MAKE_DIRECTORY ${TARVO_RESOURCE_DIR})
configure_file(${CMAKE_CURRENT_LIST_DIR}/tarvo.manifest.in ${TARVO_MANIFEST} @ONLY)

# The small sizes go into the .ico as bitmaps, which every Windows reads; the
# 256-pixel one as PNG (-r), as Windows Vista and later expect it.
set(tarvo_svg ${PROJECT_SOURCE_DIR}/about/icons/tarvo.svg)
set(tarvo_icon_args "")
set(tarvo_icon_pngs "")
foreach(size 16 24 32 48 256)
    set(png ${TARVO_RESOURCE_DIR}/tarvo-${size}.png)
    add_custom_command(OUTPUT ${png}
        COMMAND ${TARVO_RSVG_CONVERT} --width ${size} --height ${size} --output ${png} ${tarvo_svg}
        DEPENDS ${tarvo_svg} VERBATIM)
    list(APPEND tarvo_icon_pngs ${png})
    if(size EQUAL 256)
        list(APPEND tarvo_icon_args -r ${png})
    else()
        list(APPEND tarvo_icon_args ${png})
    endif()
endforeach()
add_custom_command(OUTPUT ${TARVO_ICON}
    COMMAND ${TARVO_ICOTOOL} --create --output ${TARVO_ICON} ${tarvo_icon_args}
    DEPENDS ${tarvo_icon_pngs} VERBATIM)
add_custom_target(tarvo_windows_icon DEPENDS ${TARVO_ICON})

function(tarvo_windows_resources target)
    set(TARVO_ORIGINAL_FILENAME ${target}.exe)
    set(rc ${TARVO_RESOURCE_DIR}/${target}.rc)
    configure_file(${TARVO_RC_TEMPLATE} ${rc} @ONLY)
    target_sources(${target} PRIVATE ${rc})
    set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS "${TARVO_ICON};${TARVO_MANIFEST}")
    add_dependencies(${target} tarvo_windows_icon)
endfunction()
