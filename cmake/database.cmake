# The database target's library, SQLite. The Linux program links Debian's
# libsqlite3. The programs that stand alone (Windows, and the static Linux
# one) build SQLite into themselves, from the one-file form of its source
# that its build makes with tclsh out of Debian's source package; built
# once into the build tree. Without SQLite the program refuses a target
# named as a database, with the target's message, and a warning names the
# package here.
option(ZETTRIK_SQLITE "Write databases for targets named .sqlite, .sqlite3 or .db (SQLite)" ON)

if(ZETTRIK_SQLITE AND (WIN32 OR ZETTRIK_STATIC))
  enable_language(C)
  zettrik_debsource(sqlite3 sqlitesource)
  set(sqlitebuild ${CMAKE_BINARY_DIR}/sqlite)
  if(NOT EXISTS ${sqlitebuild}/sqlite3.c)
    find_program(ZETTRIK_TCLSH tclsh)
    if(NOT ZETTRIK_TCLSH)
      message(FATAL_ERROR "SQLite's source is made into one file with tclsh: install tcl "
                          "(scripts/setup does), or configure with -DZETTRIK_SQLITE=OFF.")
    endif()
    file(MAKE_DIRECTORY ${sqlitebuild})
    message(STATUS "Making SQLite's source into one file")
    # The host's compiler and shell only make the text of sqlite3.c; it is
    # compiled below with this build's compiler. CC is set for the host, as
    # a cross build may have set it for the target.
    execute_process(COMMAND env CC=cc ${sqlitesource}/configure --disable-tcl
                    WORKING_DIRECTORY ${sqlitebuild} RESULT_VARIABLE failed OUTPUT_QUIET
                    ERROR_VARIABLE error)
    if(NOT failed)
      execute_process(COMMAND make sqlite3.c WORKING_DIRECTORY ${sqlitebuild}
                      RESULT_VARIABLE failed OUTPUT_QUIET ERROR_VARIABLE error)
    endif()
    if(failed OR NOT EXISTS ${sqlitebuild}/sqlite3.c)
      file(REMOVE ${sqlitebuild}/sqlite3.c)
      message(FATAL_ERROR "Cannot make SQLite's source into one file: ${error}")
    endif()
  endif()
  add_library(zettrik_libsqlite STATIC ${sqlitebuild}/sqlite3.c)
  # Two threads take turns at one connection, never at once; no extensions
  # are loaded (dlopen() is no part of a static program); and allocations
  # are not counted, which would take a lock for each.
  target_compile_definitions(zettrik_libsqlite PRIVATE SQLITE_THREADSAFE=2
                             SQLITE_OMIT_LOAD_EXTENSION SQLITE_DEFAULT_MEMSTATUS=0)
  target_include_directories(zettrik_libsqlite SYSTEM PUBLIC ${sqlitebuild})
  set(sqlitelibrary zettrik_libsqlite)
  set(ZETTRIK_LICENSES ${ZETTRIK_LICENSES} sqlite:${sqlitesource}/debian/copyright)
elseif(ZETTRIK_SQLITE)
  set(sqlitelibrary sqlite3)
  # sqlite3_system_errno() came with 3.12.
  zettrik_probe(ZETTRIK_HAS_SQLITE sqlite3 "#include <sqlite3.h>
#if SQLITE_VERSION_NUMBER < 3012000
#error too old
#endif
int main() { return sqlite3_libversion_number() == 0; }")
  if(NOT ZETTRIK_HAS_SQLITE)
    message(WARNING "No SQLite to write databases with: install libsqlite3-dev (scripts/setup "
                    "does), or configure with -DZETTRIK_SQLITE=OFF for a program that refuses "
                    "targets named as databases.")
    set(ZETTRIK_SQLITE OFF)
  endif()
endif()

if(ZETTRIK_SQLITE)
  target_sources(zettrik_core PRIVATE src/database.cpp)
  target_compile_definitions(zettrik_core PUBLIC ZETTRIK_SQLITE)
  target_link_libraries(zettrik_core PUBLIC ${sqlitelibrary})
else()
  target_sources(zettrik_core PRIVATE src/database-none.cpp)
endif()
