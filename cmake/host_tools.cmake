# add_host_tool(<name> <source>...): a small program that runs on the build
# machine during the build (generators). In a native build it is an ordinary
# executable; in a cross build it is compiled with the build machine's own C++
# compiler. ${<name>_EXE} names the program for add_custom_command. Its sources
# include Tessik's files by room (com/...), as Tessik's own targets do.
if(CMAKE_CROSSCOMPILING)
  find_program(HOST_CXX NAMES c++ g++ clang++ NO_CMAKE_FIND_ROOT_PATH REQUIRED)
endif()

function(add_host_tool name)
  set(sources ${ARGN})
  if(CMAKE_CROSSCOMPILING)
    set(exe ${CMAKE_BINARY_DIR}/host-tools/${name})
    set(abs_sources)
    foreach(s ${sources})
      get_filename_component(a ${s} ABSOLUTE)
      list(APPEND abs_sources ${a})
    endforeach()
    add_custom_command(OUTPUT ${exe}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/host-tools
      COMMAND ${HOST_CXX} -std=c++17 -O1 -Wall -Wextra -Werror -I${PROJECT_SOURCE_DIR}/tessik -o ${exe} ${abs_sources}
      DEPENDS ${abs_sources}
      COMMENT "Building host tool ${name}")
    add_custom_target(${name}_tool DEPENDS ${exe})
    set(${name}_EXE ${exe} PARENT_SCOPE)
  else()
    add_executable(${name} ${sources})
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tessik)
    target_link_libraries(${name} PRIVATE vardex_warnings)
    set(${name}_EXE $<TARGET_FILE:${name}> PARENT_SCOPE)
  endif()
endfunction()
