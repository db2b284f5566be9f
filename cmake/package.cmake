# Packages: a Debian package on Linux, a zip of zettrik.exe, README and
# licence from the Windows build. `cpack` in the build folder makes them.
set(CPACK_PACKAGE_NAME zettrik)
set(CPACK_PACKAGE_VENDOR "Die Zettrik-Entwickler")
set(CPACK_PACKAGE_CONTACT "Die Zettrik-Entwickler <zettrik@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "converts web server access logs into semicolon-separated CSV")
set(CPACK_PACKAGE_DESCRIPTION
    "Zettrik copies every line of a web server's access log in the combined log\n\
format into a CSV file, with the spaces between the fields turned into\n\
semicolons, and counts the lines of any other shape. Its messages are in\n\
German.")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_CURRENT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CHECKSUM SHA256)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME windows-x86_64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://zettrik.example.org/")
endif()
include(CPack)
