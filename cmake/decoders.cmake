# The libraries that decode compressed logs, one unit each beside the
# framing in src/framing.cpp. gzip: ISA-L where it is there (Linux), zlib
# otherwise (Windows, where Debian's MinGW build of it is linked in); zstd,
# xz and bzip2: their reference libraries, from Debian's -dev packages on
# Linux and built here from Debian's source packages for the Windows
# program, which stays one file. A program built without a format refuses
# such logs with the read error, as it refuses the formats it never reads.
# Without ISA-L and zlib the configuration stops, naming the packages: the
# workbook deflates its sheets with the same library, so a program without
# one would be without both, and gzip is the format logs come in most
# (-DZETTRIK_GZIP=OFF still makes a program that refuses gzip logs). A
# missing library of the other formats is named in a warning, so that a
# plain build still makes a program, and the tests of every format fail
# where one is missing.
option(ZETTRIK_GZIP "Read logs compressed with gzip (ISA-L or zlib)" ON)
option(ZETTRIK_ISAL "Inflate gzip logs with ISA-L where it is found" ON)
option(ZETTRIK_ZSTD "Read logs compressed with zstd (libzstd)" ON)
option(ZETTRIK_XZ "Read logs compressed with xz (liblzma)" ON)
option(ZETTRIK_BZIP2 "Read logs compressed with bzip2 (libbz2)" ON)

# The notices of the libraries that a program links in, as package:file,
# for the packages that ship it as one file (cmake/package.cmake).
set(ZETTRIK_LICENSES)

include(CheckCXXSourceCompiles)
include(cmake/debsource.cmake)

# Whether code using a library compiles and links here. A library that is
# not found is looked for again at the next configuration, once its
# package may be there.
function(zettrik_probe variable library code)
  set(CMAKE_REQUIRED_LIBRARIES ${library})
  check_cxx_source_compiles("${code}" ${variable})
  if(NOT ${variable})
    unset(${variable} CACHE)
  endif()
endfunction()

# A format's unit joins the program with its library, where the format is on.
function(zettrik_format option unit library)
  if(${option})
    target_sources(zettrik_core PRIVATE ${unit})
    target_compile_definitions(zettrik_core PUBLIC ${option})
    target_link_libraries(zettrik_core PUBLIC ${library})
  endif()
endfunction()

function(zettrik_missing option format package)
  message(WARNING "No library to read logs compressed with ${format}: install ${package} "
                  "(scripts/setup does), or configure with -D${option}=OFF for a program "
                  "that refuses such logs.")
  set(${option} OFF PARENT_SCOPE)
endfunction()

# gzip. Where ISA-L is used and zlib is there too, zlib is built beside it
# for the tests alone, which hold one to the other. The workbook deflates
# its sheets with the same library.
zettrik_probe(ZETTRIK_HAS_ISAL isal "#include <isa-l/igzip_lib.h>
int main() { struct inflate_state s; isal_inflate_init(&s); return 0; }")
zettrik_probe(ZETTRIK_HAS_ZLIB z "#include <zlib.h>
int main() { z_stream z = {}; return inflateInit2(&z, -15); }")
# The static program links ISA-L in: Debian ships it as a shared library
# only, so it is built from Debian's source package (with nasm), and the
# headers of libisal-dev, its same version, are used.
set(isallibrary isal)
if(ZETTRIK_ISAL AND ZETTRIK_HAS_ISAL AND ZETTRIK_STATIC)
  include(ExternalProject)
  zettrik_debsource(libisal isalsource)
  ExternalProject_Add(
    isalbuild SOURCE_DIR ${isalsource}
    CONFIGURE_COMMAND ""
    BUILD_COMMAND make -f Makefile.unx lib
    BUILD_IN_SOURCE ON
    BUILD_BYPRODUCTS ${isalsource}/bin/isa-l.a
    INSTALL_COMMAND ""
    LOG_BUILD ON)
  add_library(zettrik_libisal STATIC IMPORTED)
  set_target_properties(zettrik_libisal PROPERTIES IMPORTED_LOCATION ${isalsource}/bin/isa-l.a)
  add_dependencies(zettrik_libisal isalbuild)
  set(isallibrary zettrik_libisal)
  set(ZETTRIK_LICENSES ${ZETTRIK_LICENSES} isa-l:${isalsource}/debian/copyright)
endif()
if(ZETTRIK_ISAL AND NOT ZETTRIK_HAS_ISAL AND NOT WIN32 AND ZETTRIK_HAS_ZLIB)
  message(WARNING "No ISA-L: gzip logs are inflated and workbooks deflated with zlib, which takes "
                  "about 2.6 times the CPU for a workbook. Install libisal-dev (scripts/setup "
                  "does), or configure with -DZETTRIK_ISAL=OFF to choose zlib without this warning.")
endif()
if(ZETTRIK_ISAL AND ZETTRIK_HAS_ISAL)
  target_sources(zettrik_core PRIVATE src/pack-isal.cpp)
  target_link_libraries(zettrik_core PUBLIC ${isallibrary})
elseif(ZETTRIK_HAS_ZLIB)
  target_sources(zettrik_core PRIVATE src/pack-zlib.cpp)
  target_link_libraries(zettrik_core PUBLIC z)
elseif(WIN32)
  message(FATAL_ERROR "No library to inflate gzip logs and deflate workbooks with: install "
                      "libz-mingw-w64-dev (scripts/setup does).")
else()
  message(FATAL_ERROR "No library to inflate gzip logs and deflate workbooks with: install "
                      "libisal-dev or zlib1g-dev (scripts/setup does).")
endif()
if(ZETTRIK_GZIP)
  if(ZETTRIK_ISAL AND ZETTRIK_HAS_ISAL)
    target_sources(zettrik_core PRIVATE src/input-isal.cpp)
    target_compile_definitions(zettrik_core PUBLIC ZETTRIK_ISAL)
    target_link_libraries(zettrik_core PUBLIC ${isallibrary})
    if(ZETTRIK_HAS_ZLIB)
      add_library(zettrik_zlib STATIC src/input-zlib.cpp)
      target_link_libraries(zettrik_zlib PUBLIC zettrik_core z)
      target_compile_definitions(zettrik_zlib PUBLIC ZETTRIK_ZLIB)
      zettrik_warnings(zettrik_zlib)
    endif()
  else()  # zlib, since one of the two was found above
    target_sources(zettrik_core PRIVATE src/input-zlib.cpp)
    target_compile_definitions(zettrik_core PUBLIC ZETTRIK_ZLIB)
    target_link_libraries(zettrik_core PUBLIC z)
  endif()
endif()

# zstd, xz and bzip2 on Windows: Debian's sources, built with the cross
# compiler into static libraries. Only the parts the program and the tests
# call are linked in.
if(WIN32 AND (ZETTRIK_ZSTD OR ZETTRIK_XZ OR ZETTRIK_BZIP2))
  enable_language(C)
endif()
if(ZETTRIK_ZSTD AND WIN32)
  zettrik_debsource(zstd zstdsource)
  file(GLOB zstdfiles ${zstdsource}/lib/common/*.c ${zstdsource}/lib/decompress/*.c
       ${zstdsource}/lib/compress/*.c)
  add_library(zettrik_libzstd STATIC ${zstdfiles})
  # The assembler loop is written for ELF; the C one decodes the same.
  target_compile_definitions(zettrik_libzstd PRIVATE ZSTD_DISABLE_ASM)
  target_include_directories(zettrik_libzstd SYSTEM PUBLIC ${zstdsource}/lib)
  set(zstdlibrary zettrik_libzstd)
  set(ZETTRIK_LICENSES ${ZETTRIK_LICENSES} zstd:${zstdsource}/debian/copyright)
elseif(ZETTRIK_ZSTD)
  set(zstdlibrary zstd)
  zettrik_probe(ZETTRIK_HAS_ZSTD zstd "#include <zstd.h>
int main() { ZSTD_DCtx* z = ZSTD_createDCtx(); return ZSTD_freeDCtx(z) != 0; }")
  if(NOT ZETTRIK_HAS_ZSTD)
    zettrik_missing(ZETTRIK_ZSTD zstd libzstd-dev)
  endif()
endif()
zettrik_format(ZETTRIK_ZSTD src/input-zstd.cpp ${zstdlibrary})

if(ZETTRIK_BZIP2 AND WIN32)
  zettrik_debsource(bzip2 bzip2source)
  add_library(zettrik_libbz2 STATIC ${bzip2source}/blocksort.c ${bzip2source}/huffman.c
                                    ${bzip2source}/crctable.c ${bzip2source}/randtable.c
                                    ${bzip2source}/compress.c ${bzip2source}/decompress.c
                                    ${bzip2source}/bzlib.c)
  target_include_directories(zettrik_libbz2 SYSTEM PUBLIC ${bzip2source})
  set(bzip2library zettrik_libbz2)
  set(ZETTRIK_LICENSES ${ZETTRIK_LICENSES} bzip2:${bzip2source}/debian/copyright)
elseif(ZETTRIK_BZIP2)
  set(bzip2library bz2)
  zettrik_probe(ZETTRIK_HAS_BZIP2 bz2 "#include <bzlib.h>
int main() { bz_stream z = {}; return BZ2_bzDecompressInit(&z, 0, 0); }")
  if(NOT ZETTRIK_HAS_BZIP2)
    zettrik_missing(ZETTRIK_BZIP2 bzip2 libbz2-dev)
  endif()
endif()
zettrik_format(ZETTRIK_BZIP2 src/input-bzip2.cpp ${bzip2library})

# liblzma with its own build, which also makes programs, tests and install
# rules that are no business of this one: it is built apart, and only its
# library is taken, with the headers of its sources.
if(ZETTRIK_XZ AND WIN32)
  include(ExternalProject)
  zettrik_debsource(xz-utils xzsource)
  set(xzbuild ${CMAKE_BINARY_DIR}/xz)
  set(xzlibrary ${xzbuild}/liblzma.a)
  ExternalProject_Add(
    xz SOURCE_DIR ${xzsource}
    BINARY_DIR ${xzbuild}
    CMAKE_ARGS -DCMAKE_SYSTEM_NAME=${CMAKE_SYSTEM_NAME} -DCMAKE_C_COMPILER=${CMAKE_C_COMPILER}
               -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF -DBUILD_TESTING=OFF
    BUILD_COMMAND ${CMAKE_COMMAND} --build ${xzbuild} --target liblzma
    BUILD_BYPRODUCTS ${xzlibrary}
    INSTALL_COMMAND ""
    LOG_CONFIGURE ON LOG_BUILD ON)
  add_library(zettrik_liblzma STATIC IMPORTED)
  set_target_properties(zettrik_liblzma PROPERTIES IMPORTED_LOCATION ${xzlibrary})
  target_include_directories(zettrik_liblzma SYSTEM INTERFACE ${xzsource}/src/liblzma/api)
  # Linked in, not imported from a DLL.
  target_compile_definitions(zettrik_liblzma INTERFACE LZMA_API_STATIC)
  add_dependencies(zettrik_liblzma xz)
  set(xzlibrary zettrik_liblzma)
  set(ZETTRIK_LICENSES ${ZETTRIK_LICENSES} xz:${xzsource}/debian/copyright)
elseif(ZETTRIK_XZ)
  set(xzlibrary lzma)
  zettrik_probe(ZETTRIK_HAS_XZ lzma "#include <lzma.h>
int main() { lzma_stream z = LZMA_STREAM_INIT; return lzma_stream_decoder(&z, 1, 0); }")
  if(NOT ZETTRIK_HAS_XZ)
    zettrik_missing(ZETTRIK_XZ xz liblzma-dev)
  endif()
endif()
zettrik_format(ZETTRIK_XZ src/input-xz.cpp ${xzlibrary})
