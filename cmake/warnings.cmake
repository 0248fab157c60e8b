# One place for compiler flags: link vardex_warnings PRIVATE to every target
# built from our sources. MSVC: /W4 /permissive-; GCC and Clang: -Wall -Wextra.
add_library(vardex_warnings INTERFACE)
if(MSVC)
  target_compile_options(vardex_warnings INTERFACE /W4 /permissive- /EHsc)
else()
  target_compile_options(vardex_warnings INTERFACE -Wall -Wextra -Wshadow $<$<BOOL:${VARDEX_WERROR}>:-Werror>)
endif()
