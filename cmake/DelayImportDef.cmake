# Writes a module-definition file naming every function of a mingw-w64
# import library, for dlltool to make the delay-import library from.
#   cmake -DNM=... -DIMPORT_LIBRARY=libuser32.a -DDLL=user32.dll -DDEF=out.def -P DelayImportDef.cmake
execute_process(COMMAND ${NM} -g ${IMPORT_LIBRARY} OUTPUT_VARIABLE symbols ERROR_QUIET RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "cannot read ${IMPORT_LIBRARY}")
endif()
string(REGEX MATCHALL " I __imp_[A-Za-z0-9_@?$]+" imports "${symbols}")
set(text "LIBRARY ${DLL}\nEXPORTS\n")
foreach(line ${imports})
  string(REPLACE " I __imp_" "" name "${line}")
  string(APPEND text "${name}\n")
endforeach()
file(WRITE ${DEF} "${text}")
