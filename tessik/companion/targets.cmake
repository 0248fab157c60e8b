# The companion's two files, for both builds that make them: its own project
# (x86_64, beside a 32-bit Tessik.dll) and a 64-bit tree, whose tests drive
# the helper directly. The caller has enabled RC and set the output folder.
set(companion_dir ${CMAKE_CURRENT_LIST_DIR})
add_library(TessikHooks64 SHARED ${companion_dir}/../relay/hooks.cpp ${companion_dir}/hooks64_main.cpp
            ${companion_dir}/hooks64.def ${companion_dir}/companion.rc)
set_target_properties(TessikHooks64 PROPERTIES PREFIX "")
add_executable(TessikHost64 WIN32 ${companion_dir}/host64_main.cpp ${companion_dir}/companion.rc)
# Version blocks, so that Windows Installer's file-versioning rules apply.
target_compile_definitions(TessikHost64 PRIVATE COMPANION_HOST)
foreach(target TessikHooks64 TessikHost64)
  target_include_directories(${target} PRIVATE ${companion_dir}/.. ${companion_dir}/../../common)
  target_link_libraries(${target} PRIVATE user32 vardex_warnings)
endforeach()
