# tallyforge_warnings_for_directory(<dir>)
# Turns on -Wall -Wextra (GCC and Clang, mingw-w64's GCC included) for every target that
# <dir> and its subfolders define, and makes them errors when TALLYFORGE_WERROR is on.
# Only C and C++: the Windows resource compiler takes none of these.
if(CMAKE_CXX_COMPILER_ID MATCHES "^(GNU|Clang)$")
  set(_flags -Wall -Wextra)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    # GCC 12 (Debian 12's, native and mingw-w64) reports impossible overlaps of
    # 2^63 bytes inside std::string's inlined copies for `"literal" + str` at -O2,
    # a known fault of that release that GCC 13 no longer has; every -Wrestrict
    # warning of this tree was that one.
    list(APPEND _flags -Wno-restrict)
  endif()
  string(REPLACE ";" "$<SEMICOLON>" _flags "${_flags}")
  set(TALLYFORGE_WARNING_FLAGS "$<$<COMPILE_LANGUAGE:C,CXX>:${_flags}>")
else()
  message(FATAL_ERROR "No warning flags known for the ${CMAKE_CXX_COMPILER_ID} compiler")
endif()

function(tallyforge_warnings_for_directory dir)
  get_property(_targets DIRECTORY "${dir}" PROPERTY BUILDSYSTEM_TARGETS)
  foreach(_t ${_targets})
    get_target_property(_type ${_t} TYPE)
    if(_type MATCHES "^(STATIC_LIBRARY|SHARED_LIBRARY|MODULE_LIBRARY|OBJECT_LIBRARY|EXECUTABLE)$")
      target_compile_options(${_t} PRIVATE "${TALLYFORGE_WARNING_FLAGS}")
      set_property(TARGET ${_t} PROPERTY COMPILE_WARNING_AS_ERROR ${TALLYFORGE_WERROR})
    endif()
  endforeach()
  get_property(_subdirs DIRECTORY "${dir}" PROPERTY SUBDIRECTORIES)
  foreach(_sub ${_subdirs})
    tallyforge_warnings_for_directory("${_sub}")
  endforeach()
endfunction()
