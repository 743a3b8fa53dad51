# Reads the trust file named by INSTALLER_TRUST_FILE and generates
# ${CMAKE_BINARY_DIR}/generated/trust_config.h with the keys and legacy hash
# constants compiled into the installer.
#
# Trust file: one setting per line, "#" starts a comment.
#   ed25519-public-key <64 hex digits>            required
#   legacy-public-key  <64 hex digits>            \
#   legacy-hash-iv     <8 words>                   > optional, all three or none
#   legacy-hash-k      <64 words>                 /
# A word is 8 hex digits; words are separated by blanks, all on one line.
# Without the legacy lines no legacy signature verifies. A zero byte anywhere,
# even in a comment, makes the file invalid (pkgtool reads it the same way).

if(NOT DEFINED INSTALLER_TRUST_FILE OR INSTALLER_TRUST_FILE STREQUAL "")
  set(INSTALLER_TRUST_FILE "${CMAKE_SOURCE_DIR}/keys/development.trust")
endif()
if(NOT EXISTS "${INSTALLER_TRUST_FILE}" OR IS_DIRECTORY "${INSTALLER_TRUST_FILE}")
  message(FATAL_ERROR "trust file ${INSTALLER_TRUST_FILE}: no such file")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${INSTALLER_TRUST_FILE}")

function(_trust_fail line_number text)
  message(FATAL_ERROR "trust file ${INSTALLER_TRUST_FILE}:${line_number}: ${text}")
endfunction()

# "0x..u, 0x..u, ..." from blank-separated 8-digit hex words; fails unless
# there are exactly `count` of them. The value is checked as a whole before
# it is split: a CMake list would also split at a ";" and keep "[...]"
# together, and read words that pkgtool's reader does not.
function(_trust_words line_number keyword value count out)
  string(REPEAT "[0-9a-fA-F]" 8 word)
  if(NOT value MATCHES "^${word}([ \t]+${word})*$")
    _trust_fail(${line_number} "${keyword} needs ${count} words of 8 hex digits, separated by blanks")
  endif()
  string(REGEX MATCHALL "${word}" words "${value}")
  list(LENGTH words found)
  if(NOT found EQUAL count)
    _trust_fail(${line_number} "${keyword} needs ${count} words of 8 hex digits, found ${found}")
  endif()
  set(result "")
  foreach(word IN LISTS words)
    string(APPEND result "0x${word}u, ")
  endforeach()
  set(${out} "${result}" PARENT_SCOPE)
endfunction()

# "0x.., 0x.., ..." from 64 hex digits: a 32-byte key.
function(_trust_key line_number keyword value out)
  string(LENGTH "${value}" length)
  if(NOT length EQUAL 64 OR NOT value MATCHES "^[0-9a-fA-F]+$")
    _trust_fail(${line_number} "${keyword} needs 64 hex digits (32 bytes)")
  endif()
  string(REGEX REPLACE "([0-9a-fA-F][0-9a-fA-F])" "0x\\1, " bytes "${value}")
  set(${out} "${bytes}" PARENT_SCOPE)
endfunction()

function(_trust_parse)
  # CMake's strings end at a zero byte in places, which would drop the rest
  # of the file without a word; such a file is no trust file (pkgtool
  # refuses it too).
  file(READ "${INSTALLER_TRUST_FILE}" hex HEX)
  if(hex MATCHES "^(..)*00")
    message(FATAL_ERROR "trust file ${INSTALLER_TRUST_FILE}: holds a zero byte")
  endif()
  # Cut the raw text at each newline by hand: file(STRINGS) drops empty lines,
  # which would make the line numbers in messages wrong, and a CMake list of
  # lines would join lines at a "\" before the newline or inside "[...]".
  # Blanks are spaces and tabs, and a carriage return at either end of a line
  # (a file written with CRLF), as pkgtool's reader has them.
  file(READ "${INSTALLER_TRUST_FILE}" raw)
  set(line_number 0)
  while(NOT raw STREQUAL "")
    math(EXPR line_number "${line_number} + 1")
    string(FIND "${raw}" "\n" end)
    if(end EQUAL -1)
      set(line "${raw}")
      set(raw "")
    else()
      string(SUBSTRING "${raw}" 0 ${end} line)
      math(EXPR end "${end} + 1")
      string(SUBSTRING "${raw}" ${end} -1 raw)
    endif()
    string(REGEX REPLACE "#.*$" "" line "${line}")
    string(REGEX REPLACE "^[ \t\r]+" "" line "${line}")
    string(REGEX REPLACE "[ \t\r]+$" "" line "${line}")
    if(line STREQUAL "")
      continue()
    endif()
    if(NOT line MATCHES "^([a-z0-9-]+)[ \t]+(.*)$")
      _trust_fail(${line_number} "expected \"<setting> <value>\", got \"${line}\"")
    endif()
    set(keyword "${CMAKE_MATCH_1}")
    set(value "${CMAKE_MATCH_2}")
    if(DEFINED seen_${keyword})
      _trust_fail(${line_number} "${keyword} given twice")
    endif()
    set(seen_${keyword} TRUE)
    if(keyword STREQUAL "ed25519-public-key")
      _trust_key(${line_number} ${keyword} "${value}" ed25519)
    elseif(keyword STREQUAL "legacy-public-key")
      _trust_key(${line_number} ${keyword} "${value}" legacy)
    elseif(keyword STREQUAL "legacy-hash-iv")
      _trust_words(${line_number} ${keyword} "${value}" 8 iv)
    elseif(keyword STREQUAL "legacy-hash-k")
      _trust_words(${line_number} ${keyword} "${value}" 64 k)
    else()
      _trust_fail(${line_number} "unknown setting \"${keyword}\"")
    endif()
  endwhile()
  if(NOT DEFINED seen_ed25519-public-key)
    message(FATAL_ERROR "trust file ${INSTALLER_TRUST_FILE}: ed25519-public-key is missing")
  endif()
  set(legacy_count 0)
  foreach(keyword legacy-public-key legacy-hash-iv legacy-hash-k)
    if(DEFINED seen_${keyword})
      math(EXPR legacy_count "${legacy_count} + 1")
    endif()
  endforeach()
  if(legacy_count EQUAL 0)
    set(legacy "0")
    set(iv "0")
    set(k "0")
    set(has_legacy false)
  elseif(legacy_count EQUAL 3)
    set(has_legacy true)
  else()
    message(FATAL_ERROR "trust file ${INSTALLER_TRUST_FILE}: legacy-public-key, legacy-hash-iv and "
                        "legacy-hash-k go together: give all three or none")
  endif()
  foreach(name ed25519 legacy iv k has_legacy)
    set(TRUST_${name} "${${name}}" PARENT_SCOPE)
  endforeach()
endfunction()

_trust_parse()

# The committed development key: its private half is in this repository, so
# a build that trusts it accepts whatever anyone signs with it. Such a build
# serves tests and demos only, and configure says so. Its public keys are
# compiled in as well, so that pkgtool can tell when the trust it checks
# against is the development one.
function(_trust_development)
  set(development "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/../keys/development.trust")
  set(ed25519 "0")
  set(legacy "0")
  if(EXISTS "${development}")
    file(STRINGS "${development}" lines REGEX "^(ed25519|legacy)-public-key[ \t]")
    foreach(line IN LISTS lines)
      if(line MATCHES "^(ed25519|legacy)-public-key[ \t]+([0-9a-fA-F]+)")
        set(kind "${CMAKE_MATCH_1}")
        _trust_key(0 "${development}" "${CMAKE_MATCH_2}" bytes)
        string(TOLOWER "${bytes}" ${kind})
      endif()
    endforeach()
  endif()
  string(TOLOWER "${TRUST_ed25519}" configured_ed25519)
  string(TOLOWER "${TRUST_legacy}" configured_legacy)
  if(configured_ed25519 STREQUAL ed25519 OR (TRUST_has_legacy AND configured_legacy STREQUAL legacy))
    message(WARNING "The trust file ${INSTALLER_TRUST_FILE} holds the development key of this repository, "
                    "whose private half is public: this build accepts packages that anyone can sign and must "
                    "not be shipped. Production builds pass their own keys: -DINSTALLER_TRUST_FILE=FILE "
                    "(pkgtool keygen makes one).")
  endif()
  string(REPLACE "\\" "\\\\" file_text "${INSTALLER_TRUST_FILE}")
  string(REPLACE "\"" "\\\"" file_text "${file_text}")
  foreach(name ed25519 legacy file_text)
    set(TRUST_development_${name} "${${name}}" PARENT_SCOPE)
  endforeach()
endfunction()

_trust_development()

set(_trust_header "// Generated by cmake/TrustFile.cmake from ${INSTALLER_TRUST_FILE}. Do not edit.
#pragma once

#include <cstdint>

namespace trust_config {

constexpr uint8_t ed25519PublicKey[32] = {${TRUST_ed25519}};
// Without legacy keys no legacy signature verifies.
constexpr bool hasLegacyKeys = ${TRUST_has_legacy};
constexpr uint8_t legacyPublicKey[32] = {${TRUST_legacy}};
constexpr uint32_t legacyHashIv[8] = {${TRUST_iv}};
constexpr uint32_t legacyHashK[64] = {${TRUST_k}};

// The file these came from, and the public keys of the committed
// development trust (keys/development.trust), whose private keys are public.
constexpr char trustFile[] = \"${TRUST_development_file_text}\";
constexpr uint8_t developmentEd25519PublicKey[32] = {${TRUST_development_ed25519}};
constexpr uint8_t developmentLegacyPublicKey[32] = {${TRUST_development_legacy}};

}  // namespace trust_config
")
# Rewritten only when it changes, so a reconfigure does not rebuild everything.
file(CONFIGURE OUTPUT "${CMAKE_BINARY_DIR}/generated/trust_config.h" CONTENT "${_trust_header}" @ONLY)
