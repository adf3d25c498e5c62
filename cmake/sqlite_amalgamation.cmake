# SPDX-License-Identifier: MIT
# SQLite for the Windows build, compiled in from its single-file source:
# MinGW has no SQLite package. scripts/sqlite-source.sh makes the source
# from Debian's own package; the Linux builds link Debian's libsqlite3.
set(RIGPLOT_SQLITE_SOURCE ${CMAKE_BINARY_DIR}/sqlite CACHE PATH
  "Folder holding sqlite3.c and sqlite3.h (made by scripts/sqlite-source.sh)")
if(NOT EXISTS ${RIGPLOT_SQLITE_SOURCE}/sqlite3.c OR NOT EXISTS ${RIGPLOT_SQLITE_SOURCE}/sqlite3.h)
  message(FATAL_ERROR "No SQLite source in ${RIGPLOT_SQLITE_SOURCE}: run "
    "scripts/sqlite-source.sh ${RIGPLOT_SQLITE_SOURCE} first")
endif()
enable_language(C)
add_library(rigplot_sqlite3 STATIC ${RIGPLOT_SQLITE_SOURCE}/sqlite3.c)
target_include_directories(rigplot_sqlite3 SYSTEM PUBLIC ${RIGPLOT_SQLITE_SOURCE})
# Serialized threading as Debian builds it; no extensions loaded from DLLs;
# double-quoted strings are identifiers only, never texts.
target_compile_definitions(rigplot_sqlite3 PRIVATE SQLITE_THREADSAFE=1 SQLITE_OMIT_LOAD_EXTENSION
  SQLITE_DQS=0)
# Others' code: its warnings are not ours to mend.
target_compile_options(rigplot_sqlite3 PRIVATE -w)
add_library(SQLite::SQLite3 ALIAS rigplot_sqlite3)
