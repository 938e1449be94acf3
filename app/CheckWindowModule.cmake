# cmake -DNM=... -DCXX=... -DPROGRAM=... -DMODULE=... -DWORK=... -P CheckWindowModule.cmake
#
# The window's library leaves the run's symbols to the program that loads it. The linker cannot
# take an executable as an input, so it is given the program's exported symbols as a script, and
# must find every symbol the library needs there or in the libraries the library names: a symbol
# the program lacks fails the build, not a person's first click.
execute_process(COMMAND ${NM} -D --defined-only --just-symbols ${PROGRAM}
                OUTPUT_VARIABLE symbols COMMAND_ERROR_IS_FATAL ANY)
string(REGEX REPLACE "([^\n]+)\n" "\"\\1\" = 0;\n" script "${symbols}")
file(WRITE ${WORK}/program-symbols.ld "${script}")
# --no-as-needed: otherwise the library, of which the check uses nothing, is dropped unchecked.
execute_process(COMMAND ${CXX} -shared -o ${WORK}/window-check.so -Wl,--no-as-needed -Wl,--no-allow-shlib-undefined
                        ${WORK}/program-symbols.ld ${MODULE}
                RESULT_VARIABLE failed ERROR_VARIABLE errors)
file(REMOVE ${WORK}/window-check.so)
if(failed)
  message(FATAL_ERROR "${MODULE} needs what ${PROGRAM} does not export:\n${errors}")
endif()
file(TOUCH ${WORK}/window-check.stamp)
