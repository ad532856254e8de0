# Writes the project's copy of a file of the LZMA SDK with a patch of ours applied:
#   cmake -DSOURCE=<SDK file> -DPATCH=<patch> -DOUTPUT=<copy> -P patch_lzma_sdk.cmake
# The SDK's files have CR LF line ends and the patches LF, so the copy gets LF first. The copy is
# written under another name and renamed, so a failed patch never leaves a half-made file that the
# next build would take as up to date.
foreach(v SOURCE PATCH OUTPUT)
  if(NOT DEFINED ${v})
    message(FATAL_ERROR "patch_lzma_sdk.cmake: ${v} is not set")
  endif()
endforeach()
find_program(_patch patch REQUIRED)

file(READ ${SOURCE} _text)
string(REPLACE "\r\n" "\n" _text "${_text}")
file(WRITE ${OUTPUT}.orig "${_text}")
execute_process(
  COMMAND ${_patch} --quiet --forward --reject-file=- -o ${OUTPUT}.new ${OUTPUT}.orig ${PATCH}
  RESULT_VARIABLE _rc)
if(NOT _rc EQUAL 0)
  file(REMOVE ${OUTPUT}.orig ${OUTPUT}.new)
  message(FATAL_ERROR "${PATCH} does not apply to ${SOURCE}")
endif()
file(RENAME ${OUTPUT}.new ${OUTPUT})
file(REMOVE ${OUTPUT}.orig)
