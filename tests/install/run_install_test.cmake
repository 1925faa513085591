# Install the build into a fresh prefix, build the example hosts against that
# tree (CMake package and pkg-config file), and run them on the installed driver.
#
#   cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DWORK_DIR=... -DC_COMPILER=... -DCXX_COMPILER=...
#         [-DTOOLCHAIN=...] [-DEMULATOR=...] [-DC_FLAGS=...] [-DCXX_FLAGS=...] [-DLINKER_FLAGS=...]
#         -P run_install_test.cmake
#
# C_FLAGS, CXX_FLAGS and LINKER_FLAGS carry the build's own (-m32, sanitizers)
# to the hosts. The C++ host is built with -fno-exceptions -fno-rtti, as a
# host with the library's own rules would build it.

foreach(var BUILD_DIR SOURCE_DIR WORK_DIR C_COMPILER CXX_COMPILER)
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

# The host's output must hold the driver's first and last messages and its own verdict.
function(expect_lines what output)
  foreach(line "VANTU: Initializing: Memory screen driver (version: 2, build: 2)"
               "VANTU: Finalizing: Memory screen driver" "host: done")
    string(FIND "${output}" "${line}\n" at)
    if(at EQUAL -1)
      message(FATAL_ERROR "missing from the output of ${what}: ${line}\n${output}")
    endif()
  endforeach()
endfunction()

set(prefix ${WORK_DIR}/prefix)
set(consumer ${WORK_DIR}/consumer)
file(REMOVE_RECURSE ${WORK_DIR})
set(cxx_flags "${CXX_FLAGS} -fno-exceptions -fno-rtti")

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix} --component vantu)

foreach(expected include/vantu/driver.h include/vantu/vantu.hpp)
  if(NOT EXISTS ${prefix}/${expected})
    message(FATAL_ERROR "not installed: ${expected}")
  endif()
endforeach()

# CMake package.
set(configure_args -S ${SOURCE_DIR}/tests/install -B ${consumer}
  -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_C_COMPILER=${C_COMPILER} -DCMAKE_CXX_COMPILER=${CXX_COMPILER}
  -DVANTU_EXAMPLE_SOURCE=${SOURCE_DIR}/examples/host.c -DVANTU_EXAMPLE_CXX_SOURCE=${SOURCE_DIR}/examples/host.cpp
  "-DCMAKE_C_FLAGS=${C_FLAGS}" "-DCMAKE_CXX_FLAGS=${cxx_flags}" "-DCMAKE_EXE_LINKER_FLAGS=${LINKER_FLAGS}")
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
foreach(name host host_cpp)
  file(GLOB host ${consumer}/${name} ${consumer}/${name}.exe)
  run(${EMULATOR} ${host} ${driver})
  expect_lines("${name} (CMake package)" "${run_output}")
endforeach()

# pkg-config file, with the plain compiler commands a user would type.
find_program(PKG_CONFIG pkg-config)
if(PKG_CONFIG)
  file(GLOB_RECURSE pc_file ${prefix}/vantu.pc)
  get_filename_component(pc_dir ${pc_file} DIRECTORY)
  set(ENV{PKG_CONFIG_PATH} ${pc_dir})
  run(${PKG_CONFIG} --cflags --libs vantu)
  string(STRIP "${run_output}" pc_flags)
  separate_arguments(pc_flags UNIX_COMMAND "${pc_flags}")
  run(${PKG_CONFIG} --variable=driver vantu)
  string(STRIP "${run_output}" pc_driver)
  separate_arguments(c_flags UNIX_COMMAND "${C_FLAGS}")
  separate_arguments(cxx_flags UNIX_COMMAND "${cxx_flags}")
  separate_arguments(linker_flags UNIX_COMMAND "${LINKER_FLAGS}")
  run(${C_COMPILER} ${c_flags} ${SOURCE_DIR}/examples/host.c -o ${WORK_DIR}/host-pc ${linker_flags} ${pc_flags})
  run(${CXX_COMPILER} -std=c++17 ${cxx_flags} ${SOURCE_DIR}/examples/host.cpp -o ${WORK_DIR}/host-cpp-pc
      ${linker_flags} ${pc_flags})
  foreach(name host-pc host-cpp-pc)
    run(${EMULATOR} ${WORK_DIR}/${name} ${pc_driver})
    expect_lines("${name} (pkg-config)" "${run_output}")
  endforeach()
else()
  message(STATUS "pkg-config not found: the pkg-config builds are skipped")
endif()
