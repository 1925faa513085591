# Release archives, made by CPack (scripts/release.sh builds and checks them):
#
#   vantu-<version>-linux-x86_64.tar.gz  the installed tree (headers, libvantu_mem.so,
#                                        CMake package, pkg-config file) with README,
#                                        LICENSE, docs/*.md, the example hosts and the
#                                        API reference under share/doc/vantu
#   vantu-<version>-win32.zip, -win64.zip "VANTU MEM.dll", README.md, LICENSE, docs/*.md,
#                                        include/vantu/driver.h and vantu.hpp,
#                                        examples/host.c and host.cpp, reference/
#
# <version> is the project's VERSION, the one place it is set. The reference
# (docs/CMakeLists.txt) is in them when VANTU_BUILD_DOCS is on, as
# scripts/release.sh builds them.
file(GLOB _vantu_docs ${PROJECT_SOURCE_DIR}/docs/*.md)
set(_vantu_examples ${PROJECT_SOURCE_DIR}/examples/host.c ${PROJECT_SOURCE_DIR}/examples/host.cpp)

if(WIN32)
  # What a Windows host drops next to its program, and nothing else: no import
  # library, CMake package or pkg-config file. Left out of a plain install.
  set(_vantu_zip windows_release)
  install(FILES $<TARGET_FILE:vantu_mem> ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE
    DESTINATION . COMPONENT ${_vantu_zip} EXCLUDE_FROM_ALL)
  install(FILES ${PROJECT_SOURCE_DIR}/include/vantu/driver.h ${PROJECT_SOURCE_DIR}/include/vantu/vantu.hpp
    DESTINATION include/vantu COMPONENT ${_vantu_zip} EXCLUDE_FROM_ALL)
  install(FILES ${_vantu_examples} DESTINATION examples COMPONENT ${_vantu_zip} EXCLUDE_FROM_ALL)
  install(FILES ${_vantu_docs} DESTINATION docs COMPONENT ${_vantu_zip} EXCLUDE_FROM_ALL)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_COMPONENTS_ALL ${_vantu_zip})
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(_vantu_platform win32)
  else()
    set(_vantu_platform win64)
  endif()
else()
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE
    DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT docs)
  install(FILES ${_vantu_examples} DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples COMPONENT docs)
  install(FILES ${_vantu_docs} DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs COMPONENT docs)
  set(CPACK_GENERATOR TGZ)
  set(CPACK_COMPONENTS_ALL vantu docs)
  string(TOLOWER "${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR}" _vantu_platform)
endif()

set(CPACK_PACKAGE_NAME vantu)
set(CPACK_PACKAGE_VENDOR "The vantu developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_FILE_NAME vantu-${PROJECT_VERSION}-${_vantu_platform})
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_SOURCE_GENERATOR "")
include(CPack)
