# Fails when a shared library exports a defined symbol outside its own namespace. Given the Linux
# library as LINUX_CODEC_LIB, a DLL must also export every codec_interface function it does.

# exports(lib out): the demangled names an ELF library (nm) or a DLL (its export table) exports.
function(exports lib out)
  set(list "nm -D -C --defined-only '${lib}' | cut -d' ' -f3-")
  if(lib MATCHES "\\.dll$")
    set(list "${OBJDUMP} -p '${lib}' | sed -n '/Ordinal.Name Pointer/,/^$/ s/^\t\\[ *[0-9]*\\] //p' | c++filt")
  endif()
  execute_process(COMMAND bash -c "set -o pipefail; ${list}" OUTPUT_VARIABLE text RESULT_VARIABLE rc
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT rc EQUAL 0 OR text STREQUAL "")
    message(FATAL_ERROR "${lib} exports nothing, or its exports cannot be listed")
  endif()
  string(REPLACE "\n" ";" names "${text}")
  set(${out} "${names}" PARENT_SCOPE)
endfunction()

# fail_on(list text): an error naming every entry of the list, if it has any.
function(fail_on entries text)
  list(JOIN ${entries} "\n  " lines)
  if(NOT lines STREQUAL "")
    message(SEND_ERROR "${text}:\n  ${lines}")
  endif()
endfunction()

# typeinfo and vtables of the exported classes carry the namespace in their demangled names.
function(check_library lib namespace)
  exports(${lib} names)
  list(FILTER names EXCLUDE REGEX "^(typeinfo for |typeinfo name for |vtable for |VTT for |non-virtual thunk to |virtual thunk to )?${namespace}::")
  fail_on(names "${lib} exports outside ${namespace}")
endfunction()
check_library(${CODEC_LIB} codec_interface)
check_library(${BASE_LIB} base)

# The functions, not the compiler's tables and thunks (int64_t is long on Linux, long long on
# Windows: one name for both). The DLL may add members the compiler generates for a dllexport
# class (copies, moves, inline ones), never lack a function.
if(LINUX_CODEC_LIB)
  exports(${LINUX_CODEC_LIB} linux)
  exports(${CODEC_LIB} windows)
  foreach(side linux windows)
    list(FILTER ${side} INCLUDE REGEX "^codec_interface::")
    list(TRANSFORM ${side} REPLACE "long long" "long")
  endforeach()
  set(missing ${linux})
  list(REMOVE_ITEM missing ${windows})
  fail_on(missing "the DLL lacks")
  list(REMOVE_ITEM windows ${linux})
  list(LENGTH linux count)
  list(LENGTH windows extra)
  message(STATUS "codec_interface functions: ${count} in the Linux library, ${extra} more in the DLL ${windows}")
endif()
