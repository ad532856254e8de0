# The stub's artwork and texts as Windows resources (Windows configurations only):
#   ICON 128            the program icon                  src/app/resources/vyn-sfx.ico
#   "GIF" 200           the splash animation              src/app/resources/splash.gif
#   "LZMA" 300          the localisation table, packed    src/app/resources/localisation.xml
#   "COLOR" 400         the splash text colour (4 bytes)  src/app/resources/text-colour.bin
# The artwork comes from scripts/make-artwork. The table is packed at build time with the host
# build's sfxtool (VYN_SFXTOOL, set by scripts/lib/common.sh), the packer the stub unpacks with.
#
# VYN_STUB_RESOURCES names the resource script; vyn_uses_stub_resources(<target>) makes a target
# that lists it among its sources rebuild when a resource changes.

set(VYN_SFXTOOL "" CACHE FILEPATH "sfxtool of the host build, used to sign the stub")
if(NOT VYN_SFXTOOL)
  message(FATAL_ERROR "The stub's localisation resource is packed by the host build's sfxtool: configure with "
                      "-DVYN_SFXTOOL=<host build>/bin/sfxtool (scripts/lib/common.sh does).")
endif()

set(_res_src ${PROJECT_SOURCE_DIR}/src/app/resources)
set(_res_bin ${CMAKE_BINARY_DIR}/resources)
set(VYN_LOCALISATION_XML ${_res_src}/localisation.xml)
set(VYN_LOCALISATION_LZMA ${_res_bin}/localisation.xml.lzma)
file(MAKE_DIRECTORY ${_res_bin})
add_custom_command(OUTPUT ${VYN_LOCALISATION_LZMA}
  COMMAND "${VYN_SFXTOOL}" pack ${VYN_LOCALISATION_XML} ${VYN_LOCALISATION_LZMA}
  DEPENDS ${VYN_LOCALISATION_XML} "${VYN_SFXTOOL}"
  COMMENT "Packing the localisation table"
  VERBATIM)
add_custom_target(vyn_stub_resources DEPENDS ${VYN_LOCALISATION_LZMA})

set(VYN_STUB_RESOURCE_FILES ${_res_src}/vyn-sfx.ico ${_res_src}/splash.gif ${_res_src}/text-colour.bin
  ${VYN_LOCALISATION_LZMA})
set(VYN_STUB_RESOURCES ${_res_bin}/stub-resources.rc)
file(WRITE ${VYN_STUB_RESOURCES}.in
  "128 ICON \"${_res_src}/vyn-sfx.ico\"\n"
  "200 GIF \"${_res_src}/splash.gif\"\n"
  "300 LZMA \"${VYN_LOCALISATION_LZMA}\"\n"
  "400 COLOR \"${_res_src}/text-colour.bin\"\n")
configure_file(${VYN_STUB_RESOURCES}.in ${VYN_STUB_RESOURCES} COPYONLY)

function(vyn_uses_stub_resources target)
  add_dependencies(${target} vyn_stub_resources)
  get_target_property(sources ${target} SOURCES)
  foreach(source IN LISTS sources)
    if(source MATCHES "\\.rc$")
      set_source_files_properties(${source} TARGET_DIRECTORY ${target}
        PROPERTIES OBJECT_DEPENDS "${VYN_STUB_RESOURCE_FILES}")
    endif()
  endforeach()
endfunction()
