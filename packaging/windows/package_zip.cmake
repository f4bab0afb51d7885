# cmake -DHOST=<quorvant_host.exe> -DSOURCE_DIR=<packaging/windows>
#       -DSTAGE_DIR=<scratch folder> -DZIP=<zip to write>
#       -DPACKED_ID=<the packed extension's ID> -P package_zip.cmake
# Stages the product's files in STAGE_DIR (replacing what was there) and packs
# them into ZIP, flat; install.cmd then allows the packed extension by default
# too. Fails the build when a file is missing.
cmake_policy(VERSION 3.16)  # "@PACKED_ID@" below is text, not a variable
foreach(variable HOST SOURCE_DIR STAGE_DIR ZIP PACKED_ID)
  if(NOT ${variable})
    message(FATAL_ERROR "package_zip.cmake: ${variable} is not set")
  endif()
endforeach()

file(REMOVE_RECURSE ${STAGE_DIR})
file(MAKE_DIRECTORY ${STAGE_DIR})
file(COPY ${HOST} DESTINATION ${STAGE_DIR})
# Windows line ends: cmd finds labels reliably only in CRLF files, and older
# Notepads show LF-only text as one line.
foreach(name install.cmd uninstall.cmd INSTALL.txt)
  file(READ ${SOURCE_DIR}/${name} text)
  string(REPLACE "\r\n" "\n" text "${text}")
  string(REPLACE "@PACKED_ID@" "${PACKED_ID}" text "${text}")
  string(REPLACE "\n" "\r\n" text "${text}")
  file(WRITE ${STAGE_DIR}/${name} "${text}")
endforeach()

file(REMOVE ${ZIP})
execute_process(
  COMMAND ${CMAKE_COMMAND} -E tar cf ${ZIP} --format=zip
          quorvant_host.exe install.cmd uninstall.cmd INSTALL.txt
  WORKING_DIRECTORY ${STAGE_DIR}
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  file(REMOVE ${ZIP})
  message(FATAL_ERROR "package_zip.cmake: cannot write ${ZIP}")
endif()
