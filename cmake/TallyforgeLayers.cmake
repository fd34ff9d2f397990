# Include roots that make the folder table of README.md a rule of the build.
#
# Every source includes from the repository root ("core/records.h"), so one include
# directory at the root would let any folder reach any other. Instead each folder gets a
# root of its own in the build tree, holding links to itself and to the folders it may
# include, and to what those may include in turn (their headers include them). A folder
# further up the table is not in that root, so including it fails to compile.
#
#   tallyforge_layer(<folder> [MAY_INCLUDE <folder>...])   one row of the table
#   tallyforge_layer(<folder> MAY_INCLUDE_ALL)               tests and benchmarks
#   tallyforge_apply_layer(<folder>)                         after add_subdirectory(<folder>)

set(_tallyforge_layer_roots "${CMAKE_BINARY_DIR}/include-roots")
set_property(GLOBAL PROPERTY TALLYFORGE_LAYERS "")

function(tallyforge_layer folder)
  cmake_parse_arguments(PARSE_ARGV 1 arg "MAY_INCLUDE_ALL" "" "MAY_INCLUDE")
  get_property(_known GLOBAL PROPERTY TALLYFORGE_LAYERS)
  if(arg_MAY_INCLUDE_ALL)
    set(_reach ${_known})
  else()
    set(_reach "")
    foreach(_below ${arg_MAY_INCLUDE})
      if(NOT _below IN_LIST _known)
        message(FATAL_ERROR "${folder} may include ${_below}, which must be declared before it")
      endif()
      get_property(_below_reach GLOBAL PROPERTY TALLYFORGE_LAYER_REACH_${_below})
      list(APPEND _reach ${_below} ${_below_reach})
    endforeach()
  endif()
  list(REMOVE_DUPLICATES _reach)
  list(REMOVE_ITEM _reach ${folder})
  set_property(GLOBAL PROPERTY TALLYFORGE_LAYER_REACH_${folder} "${_reach}")
  set_property(GLOBAL APPEND PROPERTY TALLYFORGE_LAYERS ${folder})

  # Rebuilt at every configure, so a row that loses a folder loses its link too.
  set(_root "${_tallyforge_layer_roots}/${folder}")
  file(REMOVE_RECURSE "${_root}")
  file(MAKE_DIRECTORY "${_root}")
  foreach(_linked ${folder} ${_reach})
    file(CREATE_LINK "${CMAKE_SOURCE_DIR}/${_linked}" "${_root}/${_linked}" SYMBOLIC)
  endforeach()
endfunction()

function(_tallyforge_apply_root dir root)
  get_property(_targets DIRECTORY "${dir}" PROPERTY BUILDSYSTEM_TARGETS)
  foreach(_t ${_targets})
    get_target_property(_type ${_t} TYPE)
    if(_type MATCHES "^(STATIC_LIBRARY|SHARED_LIBRARY|MODULE_LIBRARY|OBJECT_LIBRARY|EXECUTABLE)$")
      target_include_directories(${_t} PRIVATE "${root}")
    endif()
  endforeach()
  get_property(_subdirs DIRECTORY "${dir}" PROPERTY SUBDIRECTORIES)
  foreach(_sub ${_subdirs})
    _tallyforge_apply_root("${_sub}" "${root}")
  endforeach()
endfunction()

function(tallyforge_apply_layer folder)
  get_property(_known GLOBAL PROPERTY TALLYFORGE_LAYERS)
  if(NOT folder IN_LIST _known)
    message(FATAL_ERROR "${folder} has no row in the folder table")
  endif()
  _tallyforge_apply_root("${CMAKE_SOURCE_DIR}/${folder}" "${_tallyforge_layer_roots}/${folder}")
endfunction()
