# The Windows release archive: tallyforge-benchmark-<version>-win64.zip with the
# executable, a short read-me and the licence texts of everything linked into it.

set(_pkg_dir "${CMAKE_BINARY_DIR}/windows-package")
configure_file("${CMAKE_SOURCE_DIR}/app/windows/README.txt.in" "${_pkg_dir}/README.txt" @ONLY NEWLINE_STYLE CRLF)
install(FILES "${_pkg_dir}/README.txt" DESTINATION . COMPONENT client)

# Licence texts, named after what they cover: from the unpacked source packages (GLFW,
# Dear ImGui) and from the Debian packages the rest came from.
set(_licenses
  GLFW.txt "${TALLYFORGE_GLFW_SOURCE_DIR}/LICENSE.md"
  Dear-ImGui.txt "${TALLYFORGE_IMGUI_SOURCE_DIR}/LICENSE.txt"
  stb.txt /usr/share/doc/libstb-dev/copyright
  nlohmann-json.txt /usr/share/doc/nlohmann-json3-dev/copyright
  glad.txt /usr/share/doc/python3-glad/copyright
  Open-Sans.txt /usr/share/doc/fonts-open-sans/copyright
  Apache-2.0.txt /usr/share/common-licenses/Apache-2.0
  mingw-w64-runtime.txt /usr/share/doc/mingw-w64-x86-64-dev/copyright
  gcc-runtime.txt /usr/share/doc/gcc-mingw-w64-base/copyright)
while(_licenses)
  list(POP_FRONT _licenses _name _file)
  if(NOT EXISTS "${_file}")
    message(FATAL_ERROR "Licence text ${_file} not found; run scripts/setup --windows")
  endif()
  install(FILES "${_file}" DESTINATION licenses RENAME "${_name}" COMPONENT client)
endwhile()
install(FILES "${CMAKE_SOURCE_DIR}/LICENSE" DESTINATION . RENAME LICENSE.txt COMPONENT client)

# Only the program's own files: GLFW and GoogleTest are built in this tree but not shipped.
set(CPACK_GENERATOR "ZIP")
set(CPACK_PACKAGE_NAME "tallyforge-benchmark")
set(CPACK_SYSTEM_NAME "win64")
set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
set(CPACK_COMPONENTS_ALL client)
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};client;/")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Two-minute PC benchmark")
set(CPACK_PACKAGE_VENDOR "Tallyforge")
set(CPACK_STRIP_FILES ON)
