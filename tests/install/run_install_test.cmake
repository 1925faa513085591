# Install the build into a fresh prefix, build the example host against that
# tree (CMake package and pkg-config file), and run it on the installed driver.
#
#   cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DWORK_DIR=... -DC_COMPILER=...
#         [-DTOOLCHAIN=...] [-DEMULATOR=...] [-DC_FLAGS=...] [-DLINKER_FLAGS=...]
#         -P run_install_test.cmake
#
# C_FLAGS and LINKER_FLAGS carry the build's own (-m32, sanitizers) to the host.

foreach(var BUILD_DIR SOURCE_DIR WORK_DIR C_COMPILER)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "${var} is not set")
  endif()
endforeach()

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    string(REPLACE ";" " " cmd "${ARGN}")
    message(FATAL_ERROR "failed (${rc}): ${cmd}\n${out}\n${err}")
  endif()
  set(run_output "${out}" PARENT_SCOPE)
endfunction()

set(prefix ${WORK_DIR}/prefix)
set(consumer ${WORK_DIR}/consumer)
file(REMOVE_RECURSE ${WORK_DIR})

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix} --component vantu)

foreach(expected include/vantu/driver.h)
  if(NOT EXISTS ${prefix}/${expected})
    message(FATAL_ERROR "not installed: ${expected}")
  endif()
endforeach()

# CMake package.
set(configure_args -S ${SOURCE_DIR}/tests/install -B ${consumer}
  -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_C_COMPILER=${C_COMPILER}
  -DVANTU_EXAMPLE_SOURCE=${SOURCE_DIR}/examples/host.c
  "-DCMAKE_C_FLAGS=${C_FLAGS}" "-DCMAKE_EXE_LINKER_FLAGS=${LINKER_FLAGS}")
if(TOOLCHAIN)
  list(APPEND configure_args --toolchain ${TOOLCHAIN})
endif()
run(${CMAKE_COMMAND} ${configure_args})
run(${CMAKE_COMMAND} --build ${consumer})
file(READ ${consumer}/driver_path.txt driver)
string(FIND "${driver}" "${prefix}/" at)
if(NOT at EQUAL 0)
  message(FATAL_ERROR "the package points outside the install prefix: ${driver}")
endif()
file(GLOB host ${consumer}/host ${consumer}/host.exe)
run(${EMULATOR} ${host} ${driver})
foreach(line "VANTU: Initializing: Memory screen driver (version: 2, build: 2)" "VANTU: Finalizing: Memory screen driver"
             "host: done")
  string(FIND "${run_output}" "${line}\n" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "missing from the host's output: ${line}\n${run_output}")
  endif()
endforeach()

# pkg-config file, with the plain compiler command a user would type.
find_program(PKG_CONFIG pkg-config)
if(PKG_CONFIG)
  file(GLOB_RECURSE pc_file ${prefix}/vantu.pc)
  get_filename_component(pc_dir ${pc_file} DIRECTORY)
  set(ENV{PKG_CONFIG_PATH} ${pc_dir})
  run(${PKG_CONFIG} --cflags vantu)
  string(STRIP "${run_output}" cflags)
  separate_arguments(cflags UNIX_COMMAND "${cflags}")
  run(${PKG_CONFIG} --variable=driver vantu)
  string(STRIP "${run_output}" pc_driver)
  separate_arguments(c_flags UNIX_COMMAND "${C_FLAGS}")
  separate_arguments(linker_flags UNIX_COMMAND "${LINKER_FLAGS}")
  run(${C_COMPILER} ${c_flags} ${cflags} ${SOURCE_DIR}/examples/host.c -o ${WORK_DIR}/host-pc
      ${linker_flags} -ldl)
  run(${EMULATOR} ${WORK_DIR}/host-pc ${pc_driver})
  string(FIND "${run_output}" "host: done\n" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the pkg-config build failed its run:\n${run_output}")
  endif()
else()
  message(STATUS "pkg-config not found: the pkg-config build is skipped")
endif()
