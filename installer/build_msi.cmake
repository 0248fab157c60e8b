# cmake -P: wixl builds the package from vardex.wxs next to the stripped
# binaries, then Tessik's registry rows join the Registry table, its
# RemoveRegistry table (keys replaced whole at install) is added, and the major
# upgrade also replaces an installed package of the same version (wixl's
# MajorUpgrade cannot say so). What wixl leaves out is filled in: short names
# for long file names, each file's Version and Language from its version
# resource (and no MsiFileHash row for a versioned file), the custom actions'
# hidden targets. With PKCS12 the package is signed last. Variables: WIXL
# MSIBUILD MSIINFO WXS RELEASE ROWS REMOVE_ROWS COMPANION64 VERSION OUT, and
# for signing OSSLSIGNCODE PKCS12 PASSFILE.
cmake_minimum_required(VERSION 3.20)
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

function(export table out)
  execute_process(COMMAND ${MSIINFO} export ${OUT} ${table} OUTPUT_VARIABLE rows RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "msiinfo export ${table}: ${rc}")
  endif()
  set(${out} "${rows}" PARENT_SCOPE)
endfunction()

# The little-endian 16-bit word at byte `at` of a hex dump, in decimal.
function(word hex at out)
  math(EXPR i "${at} * 2")
  string(SUBSTRING "${hex}" ${i} 4 w)
  string(SUBSTRING "${w}" 0 2 lo)
  string(SUBSTRING "${w}" 2 2 hi)
  math(EXPR v "0x${hi}${lo}")
  set(${out} ${v} PARENT_SCOPE)
endfunction()

# The file version (VS_FIXEDFILEINFO) and first translation's language of a
# PE file's version resource; empty for a file without one.
function(file_version path out_version out_language)
  file(READ ${path} hex HEX)
  set(${out_version} "" PARENT_SCOPE)
  set(${out_language} "" PARENT_SCOPE)
  # The signature on a byte boundary (a match across two bytes is not it).
  set(from 0)
  while(TRUE)
    string(SUBSTRING "${hex}" ${from} -1 rest)
    string(FIND "${rest}" "bd04effe" at)
    if(at LESS 0)
      return()
    endif()
    math(EXPR at "${from} + ${at}")
    math(EXPR odd "${at} % 2")
    if(NOT odd)
      break()
    endif()
    math(EXPR from "${at} + 1")
  endwhile()
  math(EXPR at "${at} / 2")
  math(EXPR ms "${at} + 8")
  math(EXPR ls "${at} + 12")
  word("${hex}" ${ms} minor)
  math(EXPR ms "${ms} + 2")
  word("${hex}" ${ms} major)
  word("${hex}" ${ls} build)
  math(EXPR ls "${ls} + 2")
  word("${hex}" ${ls} patch)
  set(${out_version} "${major}.${minor}.${patch}.${build}" PARENT_SCOPE)
  # "Translation" in UTF-16 and its terminator; the value follows on a
  # 32-bit boundary.
  string(FIND "${hex}" "5400720061006e0073006c006100740069006f006e000000" t)
  if(t LESS 0)
    return()
  endif()
  math(EXPR t "(${t} / 2 + 24 + 3) / 4 * 4")
  word("${hex}" ${t} language)
  set(${out_language} ${language} PARENT_SCOPE)
endfunction()

# An 8.3 name for a long one, unique among `taken`; empty when `name` is 8.3.
function(short_name name taken out)
  set(${out} "" PARENT_SCOPE)
  string(REGEX REPLACE "\\.[^.]*$" "" stem "${name}")
  string(REGEX MATCH "\\.[^.]*$" ext "${name}")
  string(LENGTH "${stem}" stem_length)
  string(LENGTH "${ext}" ext_length)
  if(name MATCHES "^[A-Za-z0-9_-]+(\\.[A-Za-z0-9_-]+)?$" AND stem_length LESS_EQUAL 8 AND ext_length LESS_EQUAL 4)
    return()
  endif()
  string(REGEX REPLACE "[^A-Za-z0-9_-]" "" stem "${stem}")
  string(SUBSTRING "${stem}" 0 6 stem)
  string(SUBSTRING "${ext}" 0 4 ext)
  string(TOUPPER "${stem}" stem)
  string(TOUPPER "${ext}" ext)
  foreach(n RANGE 1 9)
    if(NOT "${stem}~${n}${ext}" IN_LIST taken)
      set(${out} "${stem}~${n}${ext}" PARENT_SCOPE)
      return()
    endif()
  endforeach()
  message(FATAL_ERROR "no short name for ${name}")
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

# The File table: short|long names, Version and Language; versioned files
# lose their MsiFileHash rows.
export(File files)
string(REPLACE "\r\n" "\n" files "${files}")
string(REGEX REPLACE "\n$" "" files "${files}")
string(REPLACE "\n" ";" lines "${files}")
set(table)
set(taken)
set(n 0)
foreach(line IN LISTS lines)
  math(EXPR n "${n} + 1")
  if(n LESS_EQUAL 3)
    string(APPEND table "${line}\r\n")
    continue()
  endif()
  string(REPLACE "\t" ";" f "${line}")
  list(GET f 0 key)
  list(GET f 2 name)
  # Only binaries carry a version; the templates lie in folders of their own.
  set(version "")
  if(name MATCHES "\\.(exe|dll)$")
    file_version(${RELEASE}/${name} version language)
  endif()
  short_name(${name} "${taken}" short)
  if(short)
    list(APPEND taken ${short})
    list(REMOVE_AT f 2)
    list(INSERT f 2 "${short}|${name}")
  endif()
  if(version)
    list(REMOVE_AT f 4 5)
    list(INSERT f 4 "${version}" "${language}")
    run(${MSIBUILD} ${OUT} -q "DELETE FROM `MsiFileHash` WHERE `File_` = '${key}'")
  endif()
  string(REPLACE ";" "\t" line "${f}")
  string(APPEND table "${line}\r\n")
endforeach()
file(WRITE ${work}/File.idt "${table}")
run(${MSIBUILD} ${OUT} -i ${work}/File.idt)

# Type 18 (an installed program), deferred, without impersonation (wixl's
# 3090), and its formatted command line kept out of the log (+ 8192).
export(CustomAction actions)
string(REGEX REPLACE "(WriteSettings[A-Za-z]*)\t3090\t" "\\1\t11282\t" hidden "${actions}")
string(REGEX MATCHALL "\t11282\t" count "${hidden}")
list(LENGTH count count)
if(NOT count EQUAL 2)
  message(FATAL_ERROR "unexpected CustomAction table from wixl:\n${actions}")
endif()
file(WRITE ${work}/CustomAction.idt "${hidden}")
run(${MSIBUILD} ${OUT} -i ${work}/CustomAction.idt)

# The settings' properties stay out of SecureCustomProperties: they are the
# administrators' to give, and Windows Installer passes a standard user's
# values of them to the installing service only if they were listed there.
export(Property properties)
if(properties MATCHES "SecureCustomProperties\t[^\r\n]*(IDLEMINUTES|PASSWORD|PROGRAMPATH)")
  message(FATAL_ERROR "a settings property is secure:\n${properties}")
endif()

if(PKCS12)
  run(${CMAKE_COMMAND} -DOSSLSIGNCODE=${OSSLSIGNCODE} -DPKCS12=${PKCS12} -DPASSFILE=${PASSFILE}
      -DIN=${OUT} -DOUT=${OUT} -P ${CMAKE_CURRENT_LIST_DIR}/sign.cmake)
endif()
