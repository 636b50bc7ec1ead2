# Puts the empty event database beside the executable, unless one is already
# there: the program folder's PLW holds the operator's recorded events.
if(NOT EXISTS "${DEST}")
    file(COPY_FILE "${SRC}" "${DEST}")
endif()
