# The Windows side of the client executable: GUI subsystem, the application manifest
# (DPI awareness, Windows 10/11), the version record and an icon made from the logo at
# build time with ImageMagick.

find_program(TALLYFORGE_CONVERT NAMES convert REQUIRED
             DOC "ImageMagick's convert, which makes the program icon from the logo")

set(_win_dir "${CMAKE_CURRENT_BINARY_DIR}/windows")
set(TALLYFORGE_ICON_FILE "${_win_dir}/tallyforge-benchmark.ico")
set(TALLYFORGE_MANIFEST_FILE "${_win_dir}/tallyforge-benchmark.manifest")
set(TALLYFORGE_FILE_VERSION "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.0")
set(_logo "${CMAKE_SOURCE_DIR}/assets/pictures/logo.png")

# The chip at the logo's left end (its first 44 columns), trimmed and centred on a
# square, in the three sizes Windows asks for most.
add_custom_command(
  OUTPUT "${TALLYFORGE_ICON_FILE}"
  COMMAND "${TALLYFORGE_CONVERT}" "${_logo}" -crop 44x50+0+0 +repage -trim +repage
          -background none -gravity center -extent 50x50
          -define icon:auto-resize=48,32,16 "${TALLYFORGE_ICON_FILE}"
  DEPENDS "${_logo}"
  COMMENT "Making the program icon from the logo"
  VERBATIM)

configure_file("${CMAKE_CURRENT_LIST_DIR}/tallyforge-benchmark.manifest.in" "${TALLYFORGE_MANIFEST_FILE}" @ONLY)
configure_file("${CMAKE_CURRENT_LIST_DIR}/tallyforge-benchmark.rc.in" "${_win_dir}/tallyforge-benchmark.rc" @ONLY)
set_source_files_properties("${_win_dir}/tallyforge-benchmark.rc" PROPERTIES
  OBJECT_DEPENDS "${TALLYFORGE_ICON_FILE};${TALLYFORGE_MANIFEST_FILE}")

target_sources(tallyforge-benchmark PRIVATE "${_win_dir}/tallyforge-benchmark.rc")
set_target_properties(tallyforge-benchmark PROPERTIES WIN32_EXECUTABLE ON)
