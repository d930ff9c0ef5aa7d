# Writes vestrel-trace's bash completion (cmake -P): the options its --help
# names, the words -Y knows from vestrel-fields --filter-words.
#   -DTRACE=program -DFIELDS=program -DTEMPLATE=file.in -DOUTPUT=file
execute_process(COMMAND ${TRACE} --help OUTPUT_VARIABLE help RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${TRACE} --help failed: ${status}")
endif()
execute_process(COMMAND ${FIELDS} --filter-words OUTPUT_VARIABLE words RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${FIELDS} --filter-words failed: ${status}")
endif()

# An option starts a line of the help, or is named in parentheses after it.
string(REGEX MATCHALL "\n  -[-A-Za-z]+|\\(--[a-z-]+\\)" found "${help}")
set(options "")
foreach(option IN LISTS found)
  string(REGEX REPLACE "[\n ()]" "" option "${option}")
  list(APPEND options ${option})
endforeach()
list(REMOVE_DUPLICATES options)
list(JOIN options " " TRACE_OPTIONS)

string(STRIP "${words}" words)
string(REPLACE "\n" " " FILTER_WORDS "${words}")
configure_file(${TEMPLATE} ${OUTPUT} @ONLY)
