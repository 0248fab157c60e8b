# cmake -P: Authenticode signature (SHA-256) of IN, written to OUT, with the
# code-signing certificate in a PKCS#12 file whose password is the first line
# of PASSFILE (so it appears in no command line). Variables: OSSLSIGNCODE
# PKCS12 PASSFILE IN OUT.
file(REMOVE ${OUT}.signing)
execute_process(COMMAND ${OSSLSIGNCODE} sign -pkcs12 ${PKCS12} -readpass ${PASSFILE} -h sha256
                        -n Vardex -in ${IN} -out ${OUT}.signing
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  file(REMOVE ${OUT}.signing)
  message(FATAL_ERROR "signing ${IN}: ${rc}\n${out}${err}")
endif()
file(RENAME ${OUT}.signing ${OUT})
