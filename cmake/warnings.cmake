# One place for compiler flags: link vardex_warnings PRIVATE to every target
# built from our sources. MSVC: /W4 /permissive-; GCC and Clang: -Wall -Wextra.
add_library(vardex_warnings INTERFACE)
if(MSVC)
  target_compile_options(vardex_warnings INTERFACE /W4 /permissive- /EHsc)
else()
  target_compile_options(vardex_warnings INTERFACE -Wall -Wextra -Wshadow $<$<BOOL:${VARDEX_WERROR}>:-Werror>)
endif()
# On Linux the portable code runs only as tests: the standard library's own
# checks (an empty optional read, an index past the end) abort there, in the
# optimised simulation too, where undefined behaviour would run on silently.
if(NOT CMAKE_CROSSCOMPILING AND NOT MSVC)
  target_compile_definitions(vardex_warnings INTERFACE _GLIBCXX_ASSERTIONS)
endif()

# Build paths stay out of the binaries (__FILE__ in failure reports, debug
# info): the source tree's files are named from its root, generated files
# from the build folder's. The later map wins where the build folder lies
# inside the source tree. MSVC has no such option.
if(NOT MSVC)
  include(CheckCXXCompilerFlag)
  get_filename_component(vardex_source_root "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
  check_cxx_compiler_flag(-ffile-prefix-map=/a=b VARDEX_HAVE_FILE_PREFIX_MAP)
  if(VARDEX_HAVE_FILE_PREFIX_MAP)
    set(vardex_prefix_map -ffile-prefix-map)
  else()
    set(vardex_prefix_map -fmacro-prefix-map)
  endif()
  add_compile_options(
    "$<$<COMPILE_LANGUAGE:C,CXX>:${vardex_prefix_map}=${vardex_source_root}/=>"
    "$<$<COMPILE_LANGUAGE:C,CXX>:${vardex_prefix_map}=${CMAKE_BINARY_DIR}/=build/>")
endif()
