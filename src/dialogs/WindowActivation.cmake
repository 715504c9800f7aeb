# Adds the activation of windows with a launcher's token to `target`: through
# the xdg-activation Wayland protocol where the Wayland client library, its
# protocol scanner and Qt's private platform headers are found, otherwise a
# version that never activates (tokens exist only in Wayland sessions).
function(velmora_window_activation target)
  set(here ${CMAKE_CURRENT_FUNCTION_LIST_DIR})
  if(NOT APPLE)
    pkg_check_modules(WAYLAND_CLIENT IMPORTED_TARGET wayland-client)
    pkg_check_modules(WAYLAND_PROTOCOLS wayland-protocols)
    find_program(WAYLAND_SCANNER wayland-scanner)
    if(WAYLAND_PROTOCOLS_FOUND)
      pkg_get_variable(protocols wayland-protocols pkgdatadir)
      set(xml ${protocols}/staging/xdg-activation/xdg-activation-v1.xml)
    endif()
  endif()
  if(NOT WAYLAND_CLIENT_FOUND OR NOT WAYLAND_SCANNER OR NOT EXISTS "${xml}"
     OR NOT TARGET Qt6::GuiPrivate)
    message(STATUS "Window activation: none (no Wayland client, scanner or Qt private headers)")
    target_sources(${target} PRIVATE ${here}/WindowActivation_none.cpp)
    return()
  endif()
  set(out ${CMAKE_CURRENT_BINARY_DIR}/generated)
  add_custom_command(
    OUTPUT ${out}/xdg-activation-v1-client-protocol.h ${out}/xdg-activation-v1-protocol.c
    COMMAND ${WAYLAND_SCANNER} client-header ${xml} ${out}/xdg-activation-v1-client-protocol.h
    COMMAND ${WAYLAND_SCANNER} private-code ${xml} ${out}/xdg-activation-v1-protocol.c
    DEPENDS ${xml}
    COMMENT "Generating the xdg-activation protocol code")
  # The protocol's tables are compiled as part of WindowActivation_wayland.cpp,
  # so the project needs no C compiler.
  set_source_files_properties(${out}/xdg-activation-v1-protocol.c PROPERTIES HEADER_FILE_ONLY ON)
  target_sources(${target} PRIVATE ${here}/WindowActivation_wayland.cpp
                 ${out}/xdg-activation-v1-client-protocol.h ${out}/xdg-activation-v1-protocol.c)
  target_include_directories(${target} PRIVATE ${out})
  target_link_libraries(${target} PRIVATE PkgConfig::WAYLAND_CLIENT Qt6::GuiPrivate)
  set_property(GLOBAL PROPERTY VELMORA_USES_QT_PRIVATE ON)
  message(STATUS "Window activation: xdg-activation-v1 (${xml})")
endfunction()
