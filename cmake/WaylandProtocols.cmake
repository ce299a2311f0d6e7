# Client code of Wayland protocols, made by wayland-scanner from their XML descriptions at build time:
# pelkor_wayland_protocols(target xml...) adds "<name>-client-protocol.h" (in the build tree, on the
# target's include path) and the protocol's interface tables to the target.
find_program(WAYLAND_SCANNER wayland-scanner REQUIRED)

function(pelkor_wayland_protocols target)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/wayland-protocols)
  file(MAKE_DIRECTORY ${out})
  foreach(xml IN LISTS ARGN)
    get_filename_component(name ${xml} NAME_WE)
    add_custom_command(OUTPUT ${out}/${name}-client-protocol.h
                       COMMAND ${WAYLAND_SCANNER} client-header ${xml} ${out}/${name}-client-protocol.h
                       DEPENDS ${xml} VERBATIM)
    add_custom_command(OUTPUT ${out}/${name}-protocol.c
                       COMMAND ${WAYLAND_SCANNER} private-code ${xml} ${out}/${name}-protocol.c
                       DEPENDS ${xml} VERBATIM)
    target_sources(${target} PRIVATE ${out}/${name}-client-protocol.h ${out}/${name}-protocol.c)
  endforeach()
  target_include_directories(${target} PUBLIC ${out})
endfunction()
