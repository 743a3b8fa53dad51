# A static libcrypto for a 32-bit processor without 64-bit atomic
# instructions (32-bit PowerPC) calls libatomic's functions for them, and
# FindOpenSSL does not link libatomic. When a libcrypto program links only
# with it, libatomic is added to OpenSSL::Crypto, statically: the few
# functions used come along, and the installer depends on no further shared
# library of the system (as with the C++ runtime linked in).
include(CheckCXXSourceCompiles)
include(CMakePushCheckState)

set(_crypto_program "#include <openssl/crypto.h>
int main() { return OPENSSL_init_crypto(0, nullptr) ? 0 : 1; }")
set(_static_atomic "-Wl,--push-state,-Bstatic,-latomic,--pop-state")
cmake_push_check_state(RESET)
set(CMAKE_REQUIRED_QUIET ON)
set(CMAKE_REQUIRED_LIBRARIES OpenSSL::Crypto)
check_cxx_source_compiles("${_crypto_program}" INSTALLER_CRYPTO_LINKS)
if(NOT INSTALLER_CRYPTO_LINKS)
  set(CMAKE_REQUIRED_LIBRARIES OpenSSL::Crypto ${_static_atomic})
  check_cxx_source_compiles("${_crypto_program}" INSTALLER_CRYPTO_NEEDS_ATOMIC)
endif()
cmake_pop_check_state()
if(INSTALLER_CRYPTO_NEEDS_ATOMIC)
  message(STATUS "libcrypto needs libatomic: linked statically")
  set_property(TARGET OpenSSL::Crypto APPEND PROPERTY INTERFACE_LINK_LIBRARIES ${_static_atomic})
endif()
