# The launcher's art, built from source by tools/art: the fonts are taken from
# packages and renamed, the pictures are drawn, and res/launcher.rc embeds them.
#
# Both presets share one art folder (build/art): the art is the same for every
# target. The generators leave a file untouched when its bytes would not change,
# and Ninja re-reads the outputs' times (restat), so a preset that re-runs a
# generator does not make the other rebuild.

set(ART_PYTHON /usr/bin/python3)  # Debian's, with python3-cairo and python3-fonttools
set(CINZEL_VERSION 0.4.2)         # npm @expo-google-fonts/cinzel, pinned
set(CINZEL_SHA256 c01fd783d36a3df887d78bba982691dfea1f96c23aad2df03fbc9dfc17e1c44d)
set(OPEN_SANS_DIR /usr/share/fonts/truetype/open-sans)  # Debian's fonts-open-sans

get_filename_component(_build_root ${CMAKE_BINARY_DIR} DIRECTORY)
if(_build_root STREQUAL "${CMAKE_SOURCE_DIR}/build")
  set(_art_dir ${_build_root}/art)
else()
  set(_art_dir ${CMAKE_BINARY_DIR}/art)
endif()
set(VELMORA_ART_DIR ${_art_dir} CACHE PATH "Folder of the generated art, shared by the presets")
set(ART ${VELMORA_ART_DIR})

set(CINZEL_TGZ ${ART}/npm/expo-google-fonts-cinzel-${CINZEL_VERSION}.tgz)
set(ART_FONTS ${ART}/fonts/ZorunCinzel.ttf ${ART}/fonts/ZorunSans.ttf ${ART}/fonts/ZorunSansSemiBold.ttf)
set(ART_SCALES 100 125 150 175 200)  # percent; res/launcher.rc embeds a set for each
set(ART_PICTURES ${ART}/icon.ico ${ART}/ZorunCinzel.font ${ART}/ZorunSans.font ${ART}/ZorunSansSemiBold.font)
foreach(scale ${ART_SCALES})
  list(APPEND ART_PICTURES ${ART}/art-${scale}.bin ${ART}/contact-${scale}.png ${ART}/home-${scale}.png)
endforeach()
file(GLOB ART_SCRIPTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tools/art/*.py)

add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/art/fonts.stamp
  BYPRODUCTS ${ART_FONTS} ${ART}/fonts/fonts.conf ${CINZEL_TGZ}
  COMMAND ${ART_PYTHON} ${CMAKE_SOURCE_DIR}/tools/art/fonts.py
          ${CINZEL_TGZ} ${CINZEL_SHA256} ${OPEN_SANS_DIR} ${ART}/fonts
  COMMAND ${CMAKE_COMMAND} -E touch ${CMAKE_BINARY_DIR}/art/fonts.stamp
  DEPENDS ${CMAKE_SOURCE_DIR}/tools/art/fonts.py ${CMAKE_SOURCE_DIR}/tools/art/output.py
          ${OPEN_SANS_DIR}/OpenSans-Regular.ttf ${OPEN_SANS_DIR}/OpenSans-Semibold.ttf
  COMMENT "Fonts: Cinzel ${CINZEL_VERSION} and Open Sans under the launcher's family names"
  VERBATIM)

add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/art/art.stamp
  BYPRODUCTS ${ART_PICTURES}
  COMMAND ${ART_PYTHON} ${CMAKE_SOURCE_DIR}/tools/art/genart.py ${ART}/fonts ${ART} ${ART_SCALES}
  COMMAND ${CMAKE_COMMAND} -E touch ${CMAKE_BINARY_DIR}/art/art.stamp
  DEPENDS ${ART_SCRIPTS} ${ART_FONTS} ${CMAKE_BINARY_DIR}/art/fonts.stamp
  COMMENT "Art: backgrounds and sprites at each scale, icon, contact sheets (${ART}/contact-*.png)"
  VERBATIM)

add_custom_target(art ALL DEPENDS ${CMAKE_BINARY_DIR}/art/art.stamp)

# The resources, as one object that the launcher and the tests of its art link.
add_library(launcher_res OBJECT ${CMAKE_SOURCE_DIR}/res/launcher.rc)
set_source_files_properties(${CMAKE_SOURCE_DIR}/res/launcher.rc PROPERTIES
  OBJECT_DEPENDS "${ART_FONTS};${ART_PICTURES};${CMAKE_SOURCE_DIR}/res/launcher.manifest")
target_include_directories(launcher_res PRIVATE ${ART})
add_dependencies(launcher_res art)
