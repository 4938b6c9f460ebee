# The engine's built-in model key (model_public_key), generated at configure time
# from a PEM public key file. A product owner who signs models with their own key
# configures with -DSONIVALE_MODEL_PUBKEY=/path/to/their.pub.pem.
#
# The PEM is decoded here in CMake (no tool needed on the build host) and must be
# a secp256k1 SubjectPublicKeyInfo with an uncompressed point, as written by
#   openssl ec -in PRIVATE.pem -pubout -out PUBLIC.pub.pem

set(SONIVALE_MODEL_PUBKEY "${PROJECT_SOURCE_DIR}/keys/bundled_and_test_models_signing_key.pub.pem"
    CACHE FILEPATH "PEM public key (secp256k1) that model signatures are checked against")

# Decodes base64 text into lower-case hex, two digits per byte.
function(sonivale_base64_to_hex text out_var)
  set(alphabet "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/")
  string(REGEX REPLACE "[^A-Za-z0-9+/=]" "" text "${text}")
  string(LENGTH "${text}" len)
  math(EXPR rest "${len} % 4")
  if(len EQUAL 0 OR NOT rest EQUAL 0)
    message(FATAL_ERROR "SONIVALE_MODEL_PUBKEY: malformed base64 body")
  endif()
  set(hex "")
  set(pos 0)
  while(pos LESS len)
    set(group 0)
    set(pad 0)
    foreach(k RANGE 3)
      math(EXPR at "${pos} + ${k}")
      string(SUBSTRING "${text}" ${at} 1 c)
      if(c STREQUAL "=")
        set(v 0)
        math(EXPR pad "${pad} + 1")
      else()
        string(FIND "${alphabet}" "${c}" v)
      endif()
      math(EXPR group "(${group} << 6) | ${v}")
    endforeach()
    math(EXPR group "${group} | 0x1000000" OUTPUT_FORMAT HEXADECIMAL)  # keeps leading zeros
    string(SUBSTRING "${group}" 3 6 bytes)                            # drop "0x1"
    math(EXPR keep "(3 - ${pad}) * 2")
    string(SUBSTRING "${bytes}" 0 ${keep} bytes)
    string(APPEND hex "${bytes}")
    math(EXPR pos "${pos} + 4")
  endwhile()
  string(TOLOWER "${hex}" hex)
  set(${out_var} "${hex}" PARENT_SCOPE)
endfunction()

# "0123...": 64 hex digits, most significant first -> "0x........, ..." limbs, least significant first.
function(sonivale_hex_to_limbs hex out_var)
  set(limbs "")
  foreach(i RANGE 7)
    math(EXPR at "(7 - ${i}) * 8")
    string(SUBSTRING "${hex}" ${at} 8 limb)
    list(APPEND limbs "0x${limb}")
  endforeach()
  list(JOIN limbs ", " joined)
  set(${out_var} "${joined}" PARENT_SCOPE)
endfunction()

if(NOT EXISTS "${SONIVALE_MODEL_PUBKEY}")
  message(FATAL_ERROR "SONIVALE_MODEL_PUBKEY: no such file: ${SONIVALE_MODEL_PUBKEY}")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${SONIVALE_MODEL_PUBKEY}")
file(READ "${SONIVALE_MODEL_PUBKEY}" pem)
string(REGEX MATCH "-----BEGIN PUBLIC KEY-----([^-]*)-----END PUBLIC KEY-----" found "${pem}")
if(NOT found)
  message(FATAL_ERROR "SONIVALE_MODEL_PUBKEY: ${SONIVALE_MODEL_PUBKEY} holds no PEM PUBLIC KEY block")
endif()
sonivale_base64_to_hex("${CMAKE_MATCH_1}" der)

# DER SubjectPublicKeyInfo: SEQUENCE { SEQUENCE { id-ecPublicKey, secp256k1 }, BIT STRING 04 || X || Y }.
set(spki_prefix "3056301006072a8648ce3d020106052b8104000a034200")
string(LENGTH "${spki_prefix}" prefix_len)
string(LENGTH "${der}" der_len)
string(SUBSTRING "${der}" 0 ${prefix_len} prefix)
if(NOT der_len EQUAL 176 OR NOT prefix STREQUAL spki_prefix)
  message(FATAL_ERROR "SONIVALE_MODEL_PUBKEY: ${SONIVALE_MODEL_PUBKEY} is not an uncompressed "
                      "secp256k1 public key (make one with: openssl ec -in KEY.pem -pubout)")
endif()
string(SUBSTRING "${der}" ${prefix_len} 2 point_form)
if(NOT point_form STREQUAL "04")
  message(FATAL_ERROR "SONIVALE_MODEL_PUBKEY: the point in ${SONIVALE_MODEL_PUBKEY} is not uncompressed")
endif()
math(EXPR x_at "${prefix_len} + 2")
math(EXPR y_at "${x_at} + 64")
string(SUBSTRING "${der}" ${x_at} 64 key_x)
string(SUBSTRING "${der}" ${y_at} 64 key_y)
sonivale_hex_to_limbs("${key_x}" key_x_limbs)
sonivale_hex_to_limbs("${key_y}" key_y_limbs)

set(SONIVALE_MODEL_PUBKEY_X "${key_x}" CACHE INTERNAL "x of the model key, hex")
set(SONIVALE_MODEL_PUBKEY_Y "${key_y}" CACHE INTERNAL "y of the model key, hex")
file(CONFIGURE OUTPUT "${CMAKE_CURRENT_BINARY_DIR}/zu_model_public_key.cpp" CONTENT
"// Generated at configure time from ${SONIVALE_MODEL_PUBKEY}; do not edit.
#include \"store/zu_ecdsa.h\"

// x = ${key_x}
// y = ${key_y}
const ecdsa_public_key model_public_key = {
    {${key_x_limbs}},
    {${key_y_limbs}},
};
")
target_sources(zu PRIVATE "${CMAKE_CURRENT_BINARY_DIR}/zu_model_public_key.cpp")
