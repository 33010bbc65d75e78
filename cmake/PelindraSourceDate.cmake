# The one time that release files and the resources built into them carry:
# SOURCE_DATE_EPOCH where the caller sets it, else the time of the last commit,
# so that the same sources give the same bytes whenever they are built: from
# git, or from source-date.txt, where `git archive` writes it in an exported
# tree. Without any of them it is the time of configuring.
#
# Sets PELINDRA_SOURCE_DATE_EPOCH, and PELINDRA_PYTHON, the python3 that the
# scripts putting that time into files run with (empty where there is none:
# those files then hold the time they were made).

if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(PELINDRA_SOURCE_DATE_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
else()
  find_package(Git QUIET)
  if(GIT_FOUND)
    execute_process(COMMAND ${GIT_EXECUTABLE} log -1 --format=%ct
      WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
      OUTPUT_VARIABLE PELINDRA_SOURCE_DATE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  endif()
  if(NOT PELINDRA_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
    file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/source-date.txt PELINDRA_SOURCE_DATE_EPOCH LIMIT_COUNT 1)
  endif()
  if(NOT PELINDRA_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
    string(TIMESTAMP PELINDRA_SOURCE_DATE_EPOCH "%s" UTC)
  endif()
endif()

find_package(Python3 COMPONENTS Interpreter QUIET)
set(PELINDRA_PYTHON "${Python3_EXECUTABLE}")
if(NOT PELINDRA_PYTHON)
  message(WARNING "python3 not found: release files will hold the time they were made")
endif()
