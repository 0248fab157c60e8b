# cmake -P: wixl builds the package from vardex.wxs next to the stripped
# binaries, then Tessik's registry rows join the Registry table, its
# RemoveRegistry table (keys replaced whole at install) is added, and the major
# upgrade also replaces an installed package of the same version (wixl's
# MajorUpgrade cannot say so). Variables: WIXL MSIBUILD MSIINFO WXS RELEASE
# ROWS REMOVE_ROWS COMPANION64 VERSION OUT.
get_filename_component(work ${OUT} DIRECTORY)
get_filename_component(stem ${OUT} NAME_WE)
set(work ${work}/${stem}.tables)
file(MAKE_DIRECTORY ${work})
configure_file(${WXS} ${RELEASE}/vardex.wxs COPYONLY)

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${ARGN}: ${rc}\n${err}")
  endif()
endfunction()

run(${WIXL} -a x86 -D Version=${VERSION} -D Companion64=${COMPANION64} -o ${OUT} ${RELEASE}/vardex.wxs)

execute_process(COMMAND ${MSIINFO} export ${OUT} Registry OUTPUT_VARIABLE registry RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "msiinfo export Registry: ${rc}")
endif()
file(READ ${ROWS} rows)
file(WRITE ${work}/Registry.idt "${registry}${rows}")
run(${MSIBUILD} ${OUT} -i ${work}/Registry.idt)
run(${MSIBUILD} ${OUT} -i ${REMOVE_ROWS})

# Attributes 513: migrate features, and the maximum version is included.
execute_process(COMMAND ${MSIINFO} export ${OUT} Upgrade OUTPUT_VARIABLE upgrade RESULT_VARIABLE rc)
string(REPLACE "\t1\t\tWIX_UPGRADE_DETECTED" "\t513\t\tWIX_UPGRADE_DETECTED" upgraded "${upgrade}")
if(NOT rc EQUAL 0 OR upgraded STREQUAL upgrade)
  message(FATAL_ERROR "unexpected Upgrade table from wixl:\n${upgrade}")
endif()
file(WRITE ${work}/Upgrade.idt "${upgraded}")
run(${MSIBUILD} ${OUT} -i ${work}/Upgrade.idt)
