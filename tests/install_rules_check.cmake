# `cmake --install` into a fresh prefix must put both programs and both
# manual pages in place, and the installed pkgtool must run and know its
# version. Run by ctest as: cmake -DBUILD_DIR=.. -DPREFIX=.. -DVERSION=.. -P this
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${status}")
endif()
foreach(file sbin/installer bin/pkgtool share/man/man8/installer.8 share/man/man1/pkgtool.1)
  if(NOT EXISTS "${PREFIX}/${file}")
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()
execute_process(COMMAND "${PREFIX}/bin/pkgtool" --version OUTPUT_VARIABLE out RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT out STREQUAL "pkgtool ${VERSION}\n")
  message(FATAL_ERROR "installed pkgtool --version: status ${status}, printed \"${out}\"")
endif()
file(REMOVE_RECURSE "${PREFIX}")
