# Runs at install time, when the final prefix is known: the menu entry and
# the login autostart entry point at the installed program.
set(PW_PROGRAM_PATH "${PREFIX}/lib/pulsewatch/pulsewatch")
configure_file("${SOURCE_DIR}/data/pulsewatch.desktop.in" "${BINARY_DIR}/pulsewatch.desktop" @ONLY)
file(INSTALL "${BINARY_DIR}/pulsewatch.desktop" DESTINATION "${PREFIX}/share/applications")
if(AUTOSTART_DIR)
    file(INSTALL "${BINARY_DIR}/pulsewatch.desktop" DESTINATION "${AUTOSTART_DIR}")
endif()
# The program folder keeps the operator's events: deliver the empty
# database only where there is none.
if(NOT EXISTS "${PREFIX}/lib/pulsewatch/PLW")
    file(INSTALL "${EMPTY_DB}" DESTINATION "${PREFIX}/lib/pulsewatch" RENAME PLW
         PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ)
endif()
