# Writes the agent's version and the commit of its sources into OUTPUT, touching
# the file only when they changed. Run at every build (see CMakeLists.txt).
# Arguments: SOURCE_DIR, OUTPUT, VERSION, COMMIT (the builder's, when not empty).
set(commit "${COMMIT}")
if(commit STREQUAL "")
    # Only a checkout whose top is these sources names them: copied sources that
    # land inside another repository do not.
    execute_process(COMMAND git rev-parse --show-toplevel WORKING_DIRECTORY "${SOURCE_DIR}"
        OUTPUT_VARIABLE top OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed ERROR_QUIET)
    if(NOT failed)
        file(REAL_PATH "${top}" top)
        file(REAL_PATH "${SOURCE_DIR}" source)
    endif()
    if(NOT failed AND top STREQUAL source)
        execute_process(COMMAND git describe --always --dirty --abbrev=7 --exclude=*
            WORKING_DIRECTORY "${SOURCE_DIR}" OUTPUT_VARIABLE commit
            OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    endif()
endif()
if(commit STREQUAL "")
    set(commit unknown)
endif()
file(CONFIGURE OUTPUT "${OUTPUT}" CONTENT [[// Written at build time by cmake/agent_commit.cmake.
#include "main/agent_version.h"

const char* const agent_version = "@VERSION@";
const char* const agent_commit = "@commit@";
]] @ONLY)
