# Renders the man page as plain text for the Windows zips, which have no man:
#   cmake -DGROFF=groff -DINPUT=pelindra.1 -DOUTPUT=pelindra.1.txt -P PelindraManText.cmake
# Plain ASCII without overstriking, so any text viewer shows it as it is.
execute_process(COMMAND ${GROFF} -man -Tascii -P-cbou -ww ${INPUT}
  OUTPUT_FILE ${OUTPUT}
  RESULT_VARIABLE result
  ERROR_VARIABLE errors)
if(NOT result EQUAL 0 OR errors)
  file(REMOVE ${OUTPUT})
  message(FATAL_ERROR "groff could not render ${INPUT}: ${result} ${errors}")
endif()
