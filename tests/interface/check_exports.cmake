# Fails when a shared library exports a defined symbol outside its own namespace. An ELF library's
# exports come from nm, a DLL's from its export table (objdump), both demangled. Given the Linux
# library as LINUX_CODEC_LIB, the DLL must also export every codec_interface function it does.

# exports(lib out): the demangled names a library exports.
function(exports lib out)
  if(lib MATCHES "\\.dll$")
    execute_process(COMMAND ${OBJDUMP} -p ${lib} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
    string(REGEX MATCHALL "\n\t\\[ *[0-9]+\\] [^\n]+" entries "${dump}")
    list(TRANSFORM entries REPLACE "^\n\t\\[ *[0-9]+\\] " "")
    list(JOIN entries "\n" mangled)
    get_filename_component(name ${lib} NAME)
    file(WRITE ${WORK}/${name}.exports "${mangled}\n")
    execute_process(COMMAND c++filt INPUT_FILE ${WORK}/${name}.exports OUTPUT_VARIABLE text)
  else()
    execute_process(COMMAND nm -D -C --defined-only ${lib} OUTPUT_VARIABLE text RESULT_VARIABLE rc)
    string(REGEX REPLACE "(^|\n)[0-9a-f]+ [A-Za-z] " "\\1" text "${text}")
  endif()
  string(STRIP "${text}" text)
  if(NOT rc EQUAL 0 OR text STREQUAL "")
    message(FATAL_ERROR "${lib} exports nothing, or its exports cannot be listed")
  endif()
  string(REPLACE "\n" ";" names "${text}")
  set(${out} "${names}" PARENT_SCOPE)
endfunction()

function(check_library lib allowed_pattern)
  exports(${lib} names)
  foreach(symbol IN LISTS names)
    if(NOT symbol MATCHES "${allowed_pattern}")
      message(SEND_ERROR "${lib} exports ${symbol}")
    endif()
  endforeach()
  list(LENGTH names count)
  message(STATUS "${lib}: ${count} exported symbols, all in their namespace")
endfunction()

# typeinfo and vtables of the exported classes carry the namespace in their demangled names.
set(prefix "^(typeinfo for |typeinfo name for |vtable for |VTT for |non-virtual thunk to |virtual thunk to )?")
check_library(${CODEC_LIB} "${prefix}codec_interface::")
check_library(${BASE_LIB} "${prefix}base::")

# The same interface on both systems: the functions (not the compiler's tables and thunks) of the
# Linux library against the DLL's. The DLL may add what the compiler generates for a dllexport
# class (its copy and move members, inline ones), never lack a function.
if(LINUX_CODEC_LIB)
  exports(${LINUX_CODEC_LIB} linux)
  exports(${CODEC_LIB} windows)
  list(FILTER linux INCLUDE REGEX "^codec_interface::")
  list(FILTER windows INCLUDE REGEX "^codec_interface::")
  set(missing ${linux})
  list(REMOVE_ITEM missing ${windows})
  set(added ${windows})
  list(REMOVE_ITEM added ${linux})
  foreach(symbol IN LISTS missing)
    message(SEND_ERROR "the DLL lacks ${symbol}")
  endforeach()
  foreach(symbol IN LISTS added)
    message(STATUS "only in the DLL: ${symbol}")
  endforeach()
  list(LENGTH linux count)
  list(LENGTH added extra)
  message(STATUS "codec_interface functions: ${count} in the Linux library, all in the DLL (${extra} more there)")
endif()
