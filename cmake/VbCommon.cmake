# SPDX-License-Identifier: GPL-3.0-or-later
# The flags every target of the project links.
add_library(vb_common_cfg INTERFACE)
add_library(vb::common_cfg ALIAS vb_common_cfg)
target_compile_features(vb_common_cfg INTERFACE cxx_std_17)
target_compile_options(vb_common_cfg INTERFACE
  $<$<COMPILE_LANGUAGE:CXX>:-Wall -Wextra -pedantic -Wold-style-cast -Wnon-virtual-dtor>
  $<$<COMPILE_LANGUAGE:C>:-Wall -Wextra>)
# GCC's unique symbols would pin the ball library in memory: the host could never unload it
# and its resources would outlive it.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  target_compile_options(vb_common_cfg INTERFACE $<$<COMPILE_LANGUAGE:CXX>:-fno-gnu-unique>)
endif()
# Qt's qCDebug(category) leaves its variadic part empty, which clang's -pedantic calls an
# extension before C++20.
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  target_compile_options(vb_common_cfg INTERFACE
    $<$<COMPILE_LANGUAGE:CXX>:-Wno-gnu-zero-variadic-macro-arguments>)
endif()
target_compile_definitions(vb_common_cfg INTERFACE
  QT_NO_CAST_FROM_ASCII QT_NO_CONTEXTLESS_CONNECT QT_NO_FOREACH
  BOOST_THREAD_VERSION=4 BOOST_BIND_GLOBAL_PLACEHOLDERS)
if(VB_WERROR)
  target_compile_options(vb_common_cfg INTERFACE -Werror)
endif()
if(VB_SANITIZE)
  target_compile_options(vb_common_cfg INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(vb_common_cfg INTERFACE -fsanitize=address,undefined)
endif()

if(VB_TSAN)
  target_compile_options(vb_common_cfg INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
  target_link_options(vb_common_cfg INTERFACE -fsanitize=thread)
endif()

# Adds a static subsystem library with the vb:: alias and the common flags.
function(vb_add_subsystem name)
  add_library(${name} STATIC ${ARGN})
  add_library(vb::${name} ALIAS ${name})
  target_link_libraries(${name} PUBLIC vb::common_cfg)
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
endfunction()
