# Run by `cmake --install` after the desktop files are in place: makes the new
# scheme handler, file type and icon known at once.
if(NOT "$ENV{DESTDIR}" STREQUAL "")
  message(STATUS "Staging into DESTDIR: desktop databases left for the target system")
  return()
endif()

foreach(step
    "update-desktop-database;-q;${VELMORA_DATADIR}/applications"
    "update-mime-database;${VELMORA_DATADIR}/mime"
    "gtk-update-icon-cache;-q;-t;-f;${VELMORA_DATADIR}/icons/hicolor")
  list(GET step 0 tool)
  find_program(tool_path ${tool} NO_CACHE)
  if(tool_path)
    message(STATUS "Refreshing: ${step}")
    execute_process(COMMAND ${step} RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
      message(WARNING "${tool} failed (${result}); the desktop may need a new session to see the helper")
    endif()
  else()
    message(STATUS "${tool} not found: skipped")
  endif()
  unset(tool_path)
endforeach()
