# The short git revision of the source tree, shown in the welcome screen's footer.
find_package(Git QUIET)
set(TALLYFORGE_REVISION "unknown")
if(GIT_FOUND AND EXISTS "${CMAKE_SOURCE_DIR}/.git")
  execute_process(COMMAND "${GIT_EXECUTABLE}" rev-parse --short HEAD
                  WORKING_DIRECTORY "${CMAKE_SOURCE_DIR}"
                  OUTPUT_VARIABLE _rev OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE _rc ERROR_QUIET)
  if(_rc EQUAL 0 AND _rev)
    set(TALLYFORGE_REVISION "${_rev}")
  endif()
endif()
