# The Windows release: snapferry-import-<version>-win64.zip, made by CPack
# (`cmake --build --preset release --target package`), holding
#   snapferry-import.exe       self-contained (the MinGW runtime is linked in)
#   README.txt                 packaging/README.txt, for the person at the PC
#   LICENSE                    Snapferry's licence, Apache 2.0
#   THIRD-PARTY-NOTICES.txt    the notices of the runtime parts linked in
# at the top of the zip, with no folder of their own: Explorer's "Extract
# All" already proposes a folder named after the zip. The text files get
# Windows line endings, for Notepad of old.
set(SNAPFERRY_PACKAGE_TEXT_DIR ${PROJECT_BINARY_DIR}/package-text)

# Writes `text` to `destination` with CRLF line endings, touching the file
# only when its bytes change; `source` re-runs the configure when edited.
function(snapferry_write_windows_text source text destination)
  string(REPLACE "\r\n" "\n" text "${text}")
  string(REPLACE "\n" "\r\n" text "${text}")
  set(old "")
  if(EXISTS ${destination})
    file(READ ${destination} old)
  endif()
  if(NOT old STREQUAL text)
    file(WRITE ${destination} "${text}")
  endif()
  set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY
      CMAKE_CONFIGURE_DEPENDS ${source})
endfunction()

file(READ ${PROJECT_SOURCE_DIR}/packaging/README.txt readme)
# The README names the version (@PROJECT_VERSION@) and nothing else is
# substituted; the licence texts are copied as they are.
string(CONFIGURE "${readme}" readme @ONLY)
snapferry_write_windows_text(${PROJECT_SOURCE_DIR}/packaging/README.txt
    "${readme}" ${SNAPFERRY_PACKAGE_TEXT_DIR}/README.txt)
foreach(name LICENSE THIRD-PARTY-NOTICES.txt)
  file(READ ${PROJECT_SOURCE_DIR}/${name} text)
  snapferry_write_windows_text(${PROJECT_SOURCE_DIR}/${name} "${text}"
      ${SNAPFERRY_PACKAGE_TEXT_DIR}/${name})
endforeach()

install(TARGETS snapferry-import RUNTIME DESTINATION .)
install(FILES
    ${SNAPFERRY_PACKAGE_TEXT_DIR}/README.txt
    ${SNAPFERRY_PACKAGE_TEXT_DIR}/LICENSE
    ${SNAPFERRY_PACKAGE_TEXT_DIR}/THIRD-PARTY-NOTICES.txt
    DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_SOURCE_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME snapferry-import)
set(CPACK_PACKAGE_VENDOR Snapferry)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(snapferry_package_arch win64)
else()
  set(snapferry_package_arch win32)
endif()
set(CPACK_PACKAGE_FILE_NAME
    snapferry-import-${PROJECT_VERSION}-${snapferry_package_arch})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
# The executable goes without its symbols: a smaller download.
set(CPACK_STRIP_FILES ON)
include(CPack)
