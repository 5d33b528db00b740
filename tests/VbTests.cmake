# SPDX-License-Identifier: GPL-3.0-or-later
# vb_add_qtest(name SOURCES ... LIBS ... [LABELS ...]): one Qt Test executable registered
# with ctest, run with the offscreen platform unless it asks for a display (LABELS x11).
set(VB_TEST_FIXTURES ${CMAKE_CURRENT_LIST_DIR}/fixtures)
function(vb_add_qtest name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE vb::common_cfg Qt6::Test ${T_LIBS})
  target_compile_definitions(${name} PRIVATE VB_TEST_FIXTURES="${VB_TEST_FIXTURES}"
    VB_BIN_DIR="${CMAKE_BINARY_DIR}/bin" VB_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  add_test(NAME ${name} COMMAND ${name})
  set(env "QT_QUICK_BACKEND=software" "QT_LOGGING_RULES=qt.qpa.*=false")
  if(name IN_LIST VB_THREAD_TESTS)
    list(APPEND T_LABELS threads)
  endif()
  if(NOT "x11" IN_LIST T_LABELS)
    list(APPEND env "QT_QPA_PLATFORM=offscreen")
  endif()
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "${env}" LABELS "unit;${T_LABELS}" TIMEOUT 120)
endfunction()

# vb_add_script_test(name script [ARGS ...] [LABELS ...]): a shell test run with the build's
# bin folder.
function(vb_add_script_test name script)
  cmake_parse_arguments(T "" "" "LABELS;ARGS" ${ARGN})
  add_test(NAME ${name} COMMAND bash ${script} ${T_ARGS})
  set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "VB_BIN_DIR=${CMAKE_BINARY_DIR}/bin;VB_SOURCE_DIR=${PROJECT_SOURCE_DIR};VB_BUILD_DIR=${CMAKE_BINARY_DIR}"
    LABELS "${T_LABELS}" TIMEOUT 300)
endfunction()
