# Third-party pieces of the Windows cross build, compiled from the Debian source packages
# that scripts/fetch-windows-sources unpacks (GLFW 3.3.8, Dear ImGui 1.86), plus the
# header-only libraries and GoogleTest taken from their Debian packages.
# Defines the same targets as the Linux branch: tallyforge_glfw, tallyforge_imgui, tallyforge_stb.

set(TALLYFORGE_WINDOWS_SOURCES_DIR "${CMAKE_SOURCE_DIR}/build/windows-sources" CACHE PATH
    "Folder where scripts/fetch-windows-sources unpacked glfw3 and imgui")

function(_tallyforge_find_source var package probe)
  file(GLOB _candidates LIST_DIRECTORIES true "${TALLYFORGE_WINDOWS_SOURCES_DIR}/${package}-[0-9]*")
  foreach(_dir ${_candidates})
    if(IS_DIRECTORY "${_dir}" AND EXISTS "${_dir}/${probe}")
      set(${var} "${_dir}" PARENT_SCOPE)
      return()
    endif()
  endforeach()
  message(FATAL_ERROR "The ${package} sources are not in ${TALLYFORGE_WINDOWS_SOURCES_DIR}; "
                      "run scripts/fetch-windows-sources or set TALLYFORGE_WINDOWS_SOURCES_DIR")
endfunction()

_tallyforge_find_source(_glfw_src glfw3 "src/win32_window.c")
_tallyforge_find_source(_imgui_src imgui "backends/imgui_impl_opengl3.cpp")
# For the licence texts of the release archive.
set(TALLYFORGE_GLFW_SOURCE_DIR "${_glfw_src}")
set(TALLYFORGE_IMGUI_SOURCE_DIR "${_imgui_src}")

# A Windows program lives in one folder: the executable goes to the top of the
# installation (and of the release archive), not into bin/.
set(CMAKE_INSTALL_BINDIR .)

# --- Header-only libraries from the host's Debian packages ----------------------------
# Only their own folders are exposed: putting the host's /usr/include on the cross
# compiler's path would shadow the mingw-w64 C library headers.
set(_hdr_root "${CMAKE_BINARY_DIR}/windows-deps/include")
file(COPY /usr/include/nlohmann DESTINATION "${_hdr_root}")
file(COPY /usr/include/stb DESTINATION "${_hdr_root}")
if(TARGET nlohmann_json::nlohmann_json)
  set_target_properties(nlohmann_json::nlohmann_json PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES "${_hdr_root}")
endif()

# Debian's libstb ships the implementations as a shared library; here they are compiled in.
set(_stb_impl "${CMAKE_BINARY_DIR}/windows-deps/stb_image_impl.c")
file(CONFIGURE OUTPUT "${_stb_impl}" CONTENT
"#define STB_IMAGE_IMPLEMENTATION\n#include <stb_image.h>\n")
add_library(tallyforge_stb STATIC "${_stb_impl}")
target_include_directories(tallyforge_stb SYSTEM PUBLIC "${_hdr_root}/stb")

# --- GLFW 3.3.8 -----------------------------------------------------------------------
set(GLFW_BUILD_EXAMPLES OFF CACHE BOOL "" FORCE)
set(GLFW_BUILD_TESTS OFF CACHE BOOL "" FORCE)
set(GLFW_BUILD_DOCS OFF CACHE BOOL "" FORCE)
set(GLFW_INSTALL OFF CACHE BOOL "" FORCE)
# The program exports the hybrid-graphics symbols itself (platform layer).
set(GLFW_USE_HYBRID_HPG OFF CACHE BOOL "" FORCE)
set(BUILD_SHARED_LIBS OFF)
add_subdirectory("${_glfw_src}" "${CMAKE_BINARY_DIR}/windows-deps/glfw" EXCLUDE_FROM_ALL SYSTEM)
add_library(tallyforge_glfw INTERFACE)
target_link_libraries(tallyforge_glfw INTERFACE glfw)

# --- Dear ImGui 1.86: core and the GLFW and OpenGL 3 backends ---------------------------
add_library(tallyforge_imgui STATIC
  "${_imgui_src}/imgui.cpp"
  "${_imgui_src}/imgui_demo.cpp"
  "${_imgui_src}/imgui_draw.cpp"
  "${_imgui_src}/imgui_tables.cpp"
  "${_imgui_src}/imgui_widgets.cpp"
  "${_imgui_src}/backends/imgui_impl_glfw.cpp"
  "${_imgui_src}/backends/imgui_impl_opengl3.cpp")
# Same include layout as Debian's libimgui-dev: <imgui.h> and <imgui_impl_glfw.h>.
target_include_directories(tallyforge_imgui SYSTEM PUBLIC "${_imgui_src}" "${_imgui_src}/backends")
target_link_libraries(tallyforge_imgui PUBLIC tallyforge_glfw)
# Dear ImGui 1.86 is C++11 code: as C++20, GCC reports its flag arithmetic across enum
# types as deprecated. Its own headers reach our code as system headers.
set_target_properties(tallyforge_imgui PROPERTIES CXX_STANDARD 17)

# --- GoogleTest from Debian's googletest source package ---------------------------------
# Always configured (tests/ asks for it), built only for the targets that link it.
set(TALLYFORGE_GOOGLETEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH
    "GoogleTest sources (Debian package googletest)")
if(NOT EXISTS "${TALLYFORGE_GOOGLETEST_SOURCE_DIR}/CMakeLists.txt")
  message(FATAL_ERROR "GoogleTest sources not found in ${TALLYFORGE_GOOGLETEST_SOURCE_DIR}: "
                      "run scripts/setup (package googletest)")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
add_subdirectory("${TALLYFORGE_GOOGLETEST_SOURCE_DIR}" "${CMAKE_BINARY_DIR}/windows-deps/googletest"
                 EXCLUDE_FROM_ALL SYSTEM)
foreach(_t gtest gtest_main gmock gmock_main)
  if(NOT TARGET GTest::${_t})
    add_library(GTest::${_t} ALIAS ${_t})
  endif()
endforeach()
# tests/ asks for find_package(GTest): answer it with the targets just built.
set(_gtest_cfg "${CMAKE_BINARY_DIR}/windows-deps/gtest-config")
file(WRITE "${_gtest_cfg}/GTestConfig.cmake"
     "# GoogleTest is built in this project from Debian's sources.\nset(GTest_FOUND TRUE)\n")
file(WRITE "${_gtest_cfg}/GTestConfigVersion.cmake"
     "set(PACKAGE_VERSION 1.12.1)\nset(PACKAGE_VERSION_COMPATIBLE TRUE)\n")
set(GTest_DIR "${_gtest_cfg}" CACHE PATH "GoogleTest package configuration" FORCE)

# Test programs run under Wine in the build's own prefix; discovery waits for ctest
# so that building needs no Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_SOURCE_DIR}/tests/windows/wine-run")
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
