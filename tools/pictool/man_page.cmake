# Makes pictool's manual page from its own help texts: help2man reads
# `pictool --help` and `pictool --version`, and each command's help
# (`pictool help COMMAND`, for every command `pictool --help` lists) follows
# the command list as a subsection of its own.
#   cmake -DPICTOOL=... -DHELP2MAN=... -DOUTPUT=.../pictool.1 -P man_page.cmake
cmake_minimum_required(VERSION 3.25)

execute_process(COMMAND ${PICTOOL} --help OUTPUT_VARIABLE overview RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${PICTOOL} --help failed")
endif()
string(REGEX MATCH "Commands:\n([^\n]+\n)+" command_lines "${overview}")
string(REGEX MATCHALL "\n  [a-z]+ " commands "${command_lines}")

set(include_text "[>COMMANDS]\n")
foreach(command IN LISTS commands)
  string(STRIP "${command}" command)
  if(command STREQUAL "help")
    continue()
  endif()
  execute_process(COMMAND ${PICTOOL} help ${command} OUTPUT_VARIABLE command_help RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "${PICTOOL} help ${command} failed")
  endif()
  # Plain text as roff: a backslash printed as itself, and no line taken for
  # a request because it starts with '.' or '\''.
  string(REPLACE "\\" "\\e" command_help "${command_help}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" command_help "${command_help}")
  string(APPEND include_text ".SS pictool ${command}\n.nf\n${command_help}.fi\n")
endforeach()
string(APPEND include_text
       "[FILES]\n"
       ".TP\n"
       ".I PREFIX/lib/pictool/PIC.BMI\n"
       "The plug-in, loaded when none is beside pictool and no --plugin is given,\n"
       "with the host libraries it needs (bmm.so, core.so).\n")
get_filename_component(folder "${OUTPUT}" DIRECTORY)
file(WRITE "${folder}/pictool.h2m" "${include_text}")

execute_process(
  COMMAND ${HELP2MAN} --no-info --section=1
          "--name=command-line host for the Softimage PIC driver plug-in PIC.BMI"
          --include=${folder}/pictool.h2m --output=${OUTPUT} ${PICTOOL}
  RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "help2man could not make ${OUTPUT}")
endif()
