# Makes the zip of the Windows program or the tarball of the static Linux
# program from what the build installs, the same bytes from the same
# sources: the files in a sorted order, each with the time of the last
# commit (SOURCE_DATE_EPOCH, which string(TIMESTAMP) honours), and owned by
# nobody in particular. (CPack writes each file's own time.) EPOCH stands
# in for SOURCE_DATE_EPOCH where that is not set. The programs are
# stripped: the symbols and debugging sections would double the program
# for nobody who runs it.
#
#   cmake -DBUILD=build -DNAME=zettrik-1.0.0-linux-x86_64 -DFORMAT=gnutar|zip [-DEPOCH=N] -P archive.cmake
if(PACK)
  file(ARCHIVE_CREATE OUTPUT ${OUT} PATHS ${FILES} FORMAT ${FORMAT} ${COMPRESSION} MTIME "${TIME}")
  return()
endif()
if(EPOCH AND NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  set(ENV{SOURCE_DATE_EPOCH} ${EPOCH})
endif()
set(stage ${BUILD}/archive)
file(REMOVE_RECURSE ${stage})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${stage}/${NAME} --strip
                OUTPUT_QUIET RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "installing into ${stage} failed")
endif()
file(GLOB_RECURSE files RELATIVE ${stage} ${stage}/${NAME}/*)
list(SORT files)
string(TIMESTAMP time "%Y-%m-%d %H:%M:%S" UTC)
if(FORMAT STREQUAL zip)
  set(out ${BUILD}/${NAME}.zip)
  set(compression)
else()
  set(out ${BUILD}/${NAME}.tar.gz)
  set(compression COMPRESSION GZip)
endif()
file(REMOVE ${out})
# The paths are taken from the working folder, the staging one.
execute_process(COMMAND ${CMAKE_COMMAND} -DOUT=${out} -DFORMAT=${FORMAT} "-DFILES=${files}"
                        "-DTIME=${time}" "-DCOMPRESSION=${compression}" -DPACK=ON
                        -P ${CMAKE_CURRENT_LIST_FILE}
                WORKING_DIRECTORY ${stage} RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "packing ${out} failed")
endif()
message(STATUS "Made ${out}")
