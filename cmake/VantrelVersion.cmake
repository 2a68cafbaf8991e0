cmake_minimum_required(VERSION 3.25)
# Writes vtVersion.h with the project's version and the commit it is built
# from. Run at every build; configure_file leaves the header untouched while
# its text stays the same, so nothing rebuilds without a new commit.
# In: VT_SOURCE, VT_OUTPUT, VT_VERSION.
set(commit "")
find_package(Git QUIET)
if(GIT_FOUND AND EXISTS "${VT_SOURCE}/.git")
    execute_process(COMMAND "${GIT_EXECUTABLE}" -C "${VT_SOURCE}" describe --always --dirty --abbrev=12
                    OUTPUT_VARIABLE commit OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()
if(commit STREQUAL "")
    set(commit "unknown")
endif()
file(WRITE "${VT_OUTPUT}.in" "// Generated at build time; do not edit.\n#pragma once\n#define VT_VERSION \"@VT_VERSION@\"\n#define VT_COMMIT \"@commit@\"\n")
configure_file("${VT_OUTPUT}.in" "${VT_OUTPUT}" @ONLY)
