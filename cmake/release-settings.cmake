# The release settings checked when the build is configured: a setting the
# program would ignore or refuse at run time fails here, naming it. Included
# by the top CMakeLists.txt; also runs on its own for the tests:
#   cmake -DDLM_BOOTSTRAP_URL_1=... -P cmake/release-settings.cmake

set(POLVEX_LIMITS_HEADER "${CMAKE_CURRENT_LIST_DIR}/../core/buffer_sizes.h")

# The program's URL buffer, from core/buffer_sizes.h, so the two never differ.
function(polvex_url_buffer_size out_var)
  file(STRINGS "${POLVEX_LIMITS_HEADER}" line
       REGEX "^const size_t URL_BUFFER_SIZE = [0-9]+;")
  string(REGEX MATCH "[0-9]+" size "${line}")
  set(${out_var} ${size} PARENT_SCOPE)
endfunction()

# A bootstrap URL the program asks: scheme http or https in any case (as
# core/reply_record.cpp's is_url_value), no space or control character, and
# room for its terminator in the URL buffer.
function(polvex_check_bootstrap_url name)
  set(url "${${name}}")
  string(TOLOWER "${url}" lower)
  if(NOT lower MATCHES "^https?:")
    message(FATAL_ERROR "${name} '${url}' does not start with http: or https:; "
            "the program would treat it as absent")
  endif()
  polvex_url_buffer_size(buffer)
  string(LENGTH "${url}" length)
  if(NOT length LESS buffer)
    math(EXPR longest "${buffer} - 1")
    message(FATAL_ERROR "${name} has ${length} bytes; the program's URL buffer holds ${longest}")
  endif()
  string(HEX "${url}" hex)
  # Each byte as two hex digits: 00 to 20 (space and below) and 7f.
  string(REGEX MATCHALL ".." bytes "${hex}")
  foreach(byte IN LISTS bytes)
    if(byte STRLESS_EQUAL "20" OR byte STREQUAL "7f")
      message(FATAL_ERROR "${name} holds a space or control character (0x${byte}); "
              "the program would treat it as absent")
    endif()
  endforeach()
endfunction()

# A signer name the program can match: the common name it reads from the
# certificate comes as UTF-8 without control characters, at most 255 bytes
# (win/installer_signer.h). Empty: no check is built in.
function(polvex_check_signer_name name)
  set(signer "${${name}}")
  if(signer STREQUAL "")
    return()
  endif()
  string(HEX "${signer}" hex)
  string(REGEX MATCHALL ".." bytes "${hex}")
  list(LENGTH bytes length)
  if(length GREATER 255)
    message(FATAL_ERROR "${name} has ${length} bytes; the program compares at most 255")
  endif()
  # UTF-8 by hand: the count of continuation bytes each lead byte promises,
  # and the range of the first of them, which keeps out overlong forms
  # (E0 80..9F, F0 80..8F), surrogates (ED A0..BF) and code points above
  # U+10FFFF (F4 90..BF); no certificate's name decodes to those.
  set(expect 0)
  set(low 128)
  set(high 191)
  foreach(byte IN LISTS bytes)
    math(EXPR value "0x${byte}")
    if(expect GREATER 0)
      if(value LESS low OR value GREATER high)
        break()
      endif()
      math(EXPR expect "${expect} - 1")
      set(low 128)
      set(high 191)
    elseif(value LESS 32 OR value EQUAL 127)
      message(FATAL_ERROR "${name} holds a control character (0x${byte}); "
              "no certificate's common name can match it")
    elseif(value GREATER_EQUAL 194 AND value LESS_EQUAL 223)
      set(expect 1)
    elseif(value GREATER_EQUAL 224 AND value LESS_EQUAL 239)
      set(expect 2)
      if(value EQUAL 224)
        set(low 160)
      elseif(value EQUAL 237)
        set(high 159)
      endif()
    elseif(value GREATER_EQUAL 240 AND value LESS_EQUAL 244)
      set(expect 3)
      if(value EQUAL 240)
        set(low 144)
      elseif(value EQUAL 244)
        set(high 143)
      endif()
    elseif(value GREATER 127)
      set(expect -1)
      break()
    endif()
  endforeach()
  if(NOT expect EQUAL 0)
    message(FATAL_ERROR "${name} is not UTF-8 (an overlong form, a surrogate, a code point "
            "above U+10FFFF or a cut sequence); the program compares the signer's common name "
            "as UTF-8, byte for byte")
  endif()
endfunction()

function(polvex_check_release_settings)
  polvex_check_bootstrap_url(DLM_BOOTSTRAP_URL_1)
  polvex_check_bootstrap_url(DLM_BOOTSTRAP_URL_2)
  if(DLM_TAG_KEY STREQUAL "")
    message(FATAL_ERROR "DLM_TAG_KEY is empty; the program needs a registry key for the tag")
  endif()
  string(LENGTH "${DLM_TAG_KEY}" length)
  if(length GREATER 259)
    message(FATAL_ERROR "DLM_TAG_KEY has ${length} bytes; the program's buffer holds 259")
  endif()
  polvex_check_signer_name(DLM_INSTALLER_SIGNER)
  polvex_check_signer_name(DLM_INSTALLER_ISSUER)
  # The two go together: a signer alone cannot be checked against its
  # issuer, and an issuer alone would quietly build the unchecked program.
  # Quoted: a setting not given at all is empty too.
  if(NOT "${DLM_INSTALLER_SIGNER}" STREQUAL "" AND "${DLM_INSTALLER_ISSUER}" STREQUAL "")
    message(FATAL_ERROR "DLM_INSTALLER_SIGNER is set but DLM_INSTALLER_ISSUER is not. Set it "
      "to the common name of the certificate authority that issued the signer's certificate, "
      "for example '-DDLM_INSTALLER_ISSUER=Vendor Code Signing CA'. For an installer signed "
      "with that certificate, `osslsigncode verify -in pinstall.exe` prints it under "
      "\"Signer #0:\" on the line \"Issuer : /CN=NAME\" (NAME is the value to put here).")
  endif()
  if("${DLM_INSTALLER_SIGNER}" STREQUAL "" AND NOT "${DLM_INSTALLER_ISSUER}" STREQUAL "")
    message(FATAL_ERROR "DLM_INSTALLER_ISSUER is set but DLM_INSTALLER_SIGNER is not: "
      "without a signer the program starts the installer unchecked. Set "
      "DLM_INSTALLER_SIGNER to the common name of the signing certificate, or leave both empty.")
  endif()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  # On its own, the settings not given keep good values, so that one
  # setting is tried at a time.
  foreach(setting_default IN ITEMS "DLM_BOOTSTRAP_URL_1=http://127.0.0.1/p.txt"
                                   "DLM_BOOTSTRAP_URL_2=http://127.0.0.1/a.txt" "DLM_TAG_KEY=SOFTWARE\\T")
    string(REPLACE "=" ";" pair "${setting_default}")
    list(GET pair 0 setting)
    list(GET pair 1 value)
    if(NOT DEFINED ${setting})
      set(${setting} "${value}")
    endif()
  endforeach()
  polvex_check_release_settings()
endif()
