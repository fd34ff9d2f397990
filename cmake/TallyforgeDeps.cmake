# Third-party pieces: found on the system (Debian packages) or, for the Windows
# cross build, compiled from the source packages that scripts/fetch-windows-sources unpacks.
find_package(Threads REQUIRED)
find_package(nlohmann_json 3.11 REQUIRED)

if(NOT WIN32)
  find_package(OpenSSL REQUIRED)
endif()

# --- OpenGL loader, generated at build time by Debian's glad 2 ------------------------
set(TALLYFORGE_PYTHON "/usr/bin/python3" CACHE FILEPATH
    "Python that runs the glad generator (the system one, which has python3-glad)")
set(_glad_dir "${CMAKE_BINARY_DIR}/glad")
add_custom_command(
  OUTPUT "${_glad_dir}/src/gl.c" "${_glad_dir}/include/glad/gl.h"
  COMMAND "${TALLYFORGE_PYTHON}" -m glad --reproducible --quiet --api gl:core=3.3
          --extensions "" --out-path "${_glad_dir}" c
  COMMENT "Generating the OpenGL 3.3 core loader with glad"
  VERBATIM)
add_library(tallyforge_glad STATIC "${_glad_dir}/src/gl.c")
target_include_directories(tallyforge_glad SYSTEM PUBLIC "${_glad_dir}/include")
set_target_properties(tallyforge_glad PROPERTIES POSITION_INDEPENDENT_CODE ON)

if(NOT WIN32)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(GLFW3 REQUIRED IMPORTED_TARGET glfw3)
  pkg_check_modules(IMGUI REQUIRED IMPORTED_TARGET imgui)
  pkg_check_modules(STB REQUIRED IMPORTED_TARGET stb)
  add_library(tallyforge_glfw INTERFACE)
  target_link_libraries(tallyforge_glfw INTERFACE PkgConfig::GLFW3 ${CMAKE_DL_LIBS})
  add_library(tallyforge_stb INTERFACE)
  target_link_libraries(tallyforge_stb INTERFACE PkgConfig::STB)

  # Debian ships the Dear ImGui core as a library and the backends as sources.
  set(TALLYFORGE_IMGUI_BACKENDS_DIR "/usr/share/doc/libimgui-dev/examples/backends" CACHE PATH
      "Folder holding imgui_impl_glfw.cpp and imgui_impl_opengl3.cpp")
  foreach(_f imgui_impl_glfw.cpp imgui_impl_opengl3.cpp)
    if(NOT EXISTS "${TALLYFORGE_IMGUI_BACKENDS_DIR}/${_f}")
      message(FATAL_ERROR "${_f} not found in ${TALLYFORGE_IMGUI_BACKENDS_DIR}; run scripts/setup "
                          "(package libimgui-dev) or set TALLYFORGE_IMGUI_BACKENDS_DIR")
    endif()
  endforeach()
  add_library(tallyforge_imgui STATIC
    "${TALLYFORGE_IMGUI_BACKENDS_DIR}/imgui_impl_glfw.cpp"
    "${TALLYFORGE_IMGUI_BACKENDS_DIR}/imgui_impl_opengl3.cpp")
  target_include_directories(tallyforge_imgui SYSTEM PUBLIC /usr/include/imgui /usr/include/imgui/backends)
  target_link_libraries(tallyforge_imgui PUBLIC PkgConfig::IMGUI tallyforge_glfw)
else()
  include(TallyforgeWindowsDeps)
endif()
