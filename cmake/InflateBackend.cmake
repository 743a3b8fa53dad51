# INSTALLER_INFLATE: the library that inflates package payloads, "isal"
# (Intel's ISA-L, faster) or "zlib". Left empty, ISA-L is used where it is
# found (pkg-config libisal, else the library and its header), else zlib.
# Defines the target Isal::Isal when ISA-L is used.
set(INSTALLER_INFLATE "" CACHE STRING "Inflate backend: isal or zlib (empty: isal where found)")
set_property(CACHE INSTALLER_INFLATE PROPERTY STRINGS "" isal zlib)

if(NOT INSTALLER_INFLATE STREQUAL "zlib")
  find_package(PkgConfig QUIET)
  if(PKG_CONFIG_FOUND)
    pkg_check_modules(ISAL QUIET IMPORTED_TARGET libisal)
  endif()
  if(TARGET PkgConfig::ISAL)
    add_library(Isal::Isal ALIAS PkgConfig::ISAL)
  else()
    find_library(ISAL_LIBRARY isal)
    find_path(ISAL_INCLUDE_DIR isa-l/igzip_lib.h)
    if(ISAL_LIBRARY AND ISAL_INCLUDE_DIR)
      add_library(Isal::Isal UNKNOWN IMPORTED)
      set_target_properties(Isal::Isal PROPERTIES IMPORTED_LOCATION "${ISAL_LIBRARY}"
                            INTERFACE_INCLUDE_DIRECTORIES "${ISAL_INCLUDE_DIR}")
    endif()
  endif()
endif()

if(INSTALLER_INFLATE STREQUAL "")
  if(TARGET Isal::Isal)
    set(INSTALLER_INFLATE isal)
  else()
    set(INSTALLER_INFLATE zlib)
  endif()
elseif(INSTALLER_INFLATE STREQUAL "isal" AND NOT TARGET Isal::Isal)
  message(FATAL_ERROR "INSTALLER_INFLATE=isal, but ISA-L (libisal-dev) was not found")
elseif(NOT INSTALLER_INFLATE MATCHES "^(isal|zlib)$")
  message(FATAL_ERROR "INSTALLER_INFLATE must be isal or zlib, not '${INSTALLER_INFLATE}'")
endif()
message(STATUS "Inflate backend: ${INSTALLER_INFLATE}")
