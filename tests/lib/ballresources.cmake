# SPDX-License-Identifier: GPL-3.0-or-later
# vb_add_ball_resources(target): compiles the ball's documents and pictures ("qrc:/Ball/...")
# into a test, as the ball library carries them.
function(vb_add_ball_resources target)
  file(GLOB_RECURSE _files RELATIVE ${PROJECT_SOURCE_DIR}/src/qml CONFIGURE_DEPENDS
    ${PROJECT_SOURCE_DIR}/src/qml/Ball/*)
  list(FILTER _files EXCLUDE REGEX "(/\\.|\\.svg$|\\.md$)")
  set(_paths)
  foreach(f ${_files})
    list(APPEND _paths ${PROJECT_SOURCE_DIR}/src/qml/${f})
  endforeach()
  qt_add_resources(${target} ${target}_ball PREFIX / BASE ${PROJECT_SOURCE_DIR}/src/qml
    FILES ${_paths})
endfunction()
