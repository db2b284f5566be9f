# Packages: a Debian package on Linux, a zip of zettrik.exe, README,
# manuals and licences from the Windows build, a tarball of the same from
# the static Linux build. `cpack` in the build folder makes them.
set(CPACK_PACKAGE_NAME zettrik)
set(CPACK_PACKAGE_VENDOR "Die Zettrik-Entwickler")
set(CPACK_PACKAGE_CONTACT "Die Zettrik-Entwickler <zettrik@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "converts web server access logs into semicolon-separated CSV")
set(CPACK_PACKAGE_DESCRIPTION
    "Zettrik copies every line of a web server's access log in the combined log\n\
format into a CSV file, with the spaces between the fields turned into\n\
semicolons, and counts the lines of any other shape. A target named .xlsx\n\
becomes a workbook that a spreadsheet opens with every cell right, one\n\
named .sqlite an SQLite database with a row for each line. Logs compressed\n\
with gzip, zstd, xz, lzma, lzip or bzip2 are read as they are. Its messages\n\
are in German.")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_CURRENT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CHECKSUM SHA256)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME windows-x86_64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
elseif(ZETTRIK_STATIC)
  set(CPACK_GENERATOR TGZ)
  set(CPACK_SYSTEM_NAME linux-x86_64)
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

# The zip and the tarball, made the same way from the same sources
# (cmake/archive.cmake), by the target archive.
if(WIN32 OR ZETTRIK_STATIC)
  if(WIN32)
    set(format zip)
  else()
    set(format gnutar)
  endif()
  add_custom_target(
    archive
    COMMAND ${CMAKE_COMMAND} -DBUILD=${CMAKE_BINARY_DIR}
            -DNAME=${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME} -DFORMAT=${format}
            -DEPOCH=${ZETTRIK_EPOCH}
            -P ${CMAKE_CURRENT_SOURCE_DIR}/cmake/archive.cmake
    DEPENDS zettrik manual
    VERBATIM)
endif()
