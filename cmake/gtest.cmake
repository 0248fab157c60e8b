# GoogleTest from Debian's googletest source package, built with the project's
# own compiler (native or MinGW) so that both sides use the same sources.
set(GTEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH "GoogleTest sources")
if(NOT EXISTS "${GTEST_SOURCE_DIR}/CMakeLists.txt")
  message(FATAL_ERROR "GoogleTest sources not found in ${GTEST_SOURCE_DIR}; run tools/setup")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory(${GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/_googletest EXCLUDE_FROM_ALL)
# GoogleTest's own warnings are not ours to fix.
foreach(t gtest gtest_main)
  set_target_properties(${t} PROPERTIES COMPILE_OPTIONS "" CXX_CLANG_TIDY "")
  target_compile_options(${t} PRIVATE -w)
endforeach()
include(GoogleTest)

# vardex_add_test(name SOURCES ... LIBS ...): one GoogleTest executable,
# its cases discovered by ctest (under Wine for the Windows build).
function(vardex_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} gtest_main gtest)
  target_link_libraries(${name} PRIVATE vardex_warnings)
  if(CMAKE_CROSSCOMPILING)
    # Under Wine every process start costs a fraction of a second: run each
    # test executable once rather than once per case.
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
  else()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST PROPERTIES LABELS "${T_LABELS}")
  endif()
endfunction()
