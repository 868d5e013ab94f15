# Installs the build tree into a scratch prefix, then configures, builds and runs a host project
# that uses find_package(codec), and links the same host through the pkg-config file.
file(REMOVE_RECURSE ${WORK})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${WORK}/prefix
                RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "install failed")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -S ${HOST} -B ${WORK}/host -G Ninja
                        -DCMAKE_PREFIX_PATH=${WORK}/prefix
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "find_package(codec) failed")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK}/host RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "host build failed")
endif()
execute_process(COMMAND ${WORK}/host/host RESULT_VARIABLE rc OUTPUT_VARIABLE out)
if(NOT rc EQUAL 0 OR NOT out STREQUAL "host ok\n")
  message(FATAL_ERROR "host run failed: ${rc} ${out}")
endif()

set(ENV{PKG_CONFIG_PATH} ${WORK}/prefix/lib/pkgconfig)
execute_process(COMMAND pkg-config --cflags --libs codec OUTPUT_VARIABLE flags
                RESULT_VARIABLE rc OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "pkg-config codec failed")
endif()
separate_arguments(flags UNIX_COMMAND "${flags}")
execute_process(COMMAND c++ -std=c++17 ${HOST}/main.cpp -o ${WORK}/pc-host ${flags}
                        -Wl,-rpath,${WORK}/prefix/lib RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "pkg-config host build failed")
endif()
execute_process(COMMAND ${WORK}/pc-host RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "pkg-config host run failed")
endif()
