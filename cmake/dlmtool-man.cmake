# Writes dlmtool's manual page from the tool's own help: help2man reads
# `dlmtool --help` and `--version`, and each command's usage is added as a
# section of its own. Run as
#   cmake -DDLMTOOL=PATH -DOUTPUT=dlmtool.1 -DHELP2MAN=PATH -P dlmtool-man.cmake
set(commands encipher decipher reply manifest stamp tag info "site build" "site check")
set(include_text "[COMMANDS]\n")
foreach(command IN LISTS commands)
  separate_arguments(words UNIX_COMMAND "${command}")
  execute_process(COMMAND ${DLMTOOL} ${words} --help OUTPUT_VARIABLE usage RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "dlmtool ${command} --help failed")
  endif()
  # roff: a backslash is written \e, and a line may not start with . or '.
  string(REPLACE "\\" "\\e" usage "${usage}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" usage "${usage}")
  string(APPEND include_text ".SS \"dlmtool ${command}\"\n.nf\n${usage}.fi\n")
endforeach()
string(APPEND include_text "[SEE ALSO]\nThe format of the site configuration, publishing a release and checking a "
  "served site: docs/site-config.md; signing and the installer's signer: docs/signing.md and "
  "docs/trusted-delivery.md, in the project's sources.\n")
file(WRITE "${OUTPUT}.include" "${include_text}")
execute_process(COMMAND ${HELP2MAN} --no-info --section 1
                        "--name=the vendor's tool for the polvex web installer and its download site"
                        "--include=${OUTPUT}.include" "--output=${OUTPUT}" ${DLMTOOL}
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "help2man could not write ${OUTPUT}")
endif()
