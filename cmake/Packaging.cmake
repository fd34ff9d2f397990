# Installation and packages: `cmake --install` and CPack (two .debs on Linux, a .zip on
# Windows). Linux components: `client` (the benchmark, tallyforge-sysinfo, desktop entry,
# icons, AppStream metainfo) and `service` (tallyforge-results, its salt and systemd unit).
include(GNUInstallDirs)

install(TARGETS tallyforge-benchmark RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT client)

if(WIN32)
  include(PackagingWindows)
  set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
  include(CPack)
  return()
endif()

find_program(TALLYFORGE_HELP2MAN help2man REQUIRED)
find_program(TALLYFORGE_GZIP gzip REQUIRED)
set(_pkg "${CMAKE_BINARY_DIR}/packaging")

# Manual pages made from each program's --help and --version, compressed as Debian wants.
function(_tallyforge_man_page target component summary)
  set(_page "${_pkg}/man/${target}.1.gz")
  add_custom_command(
    OUTPUT "${_page}"
    COMMAND "${TALLYFORGE_HELP2MAN}" --no-info --no-discard-stderr --name "${summary}"
            --output "${_pkg}/man/${target}.1" "$<TARGET_FILE:${target}>"
    COMMAND "${TALLYFORGE_GZIP}" -9 -n -f "${_pkg}/man/${target}.1"
    DEPENDS ${target}
    COMMENT "Writing the manual page of ${target} with help2man"
    VERBATIM)
  add_custom_target(${target}_man ALL DEPENDS "${_page}")
  install(FILES "${_page}" DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${component})
endfunction()

# Debian wants the documentation folder's changelog and copyright in each package.
set(_changelog "${_pkg}/changelog.gz")
add_custom_command(
  OUTPUT "${_changelog}"
  COMMAND "${CMAKE_COMMAND}" -E make_directory "${_pkg}"
  COMMAND "${TALLYFORGE_GZIP}" -9 -n -c "${CMAKE_SOURCE_DIR}/packaging/changelog" > "${_changelog}"
  DEPENDS "${CMAKE_SOURCE_DIR}/packaging/changelog"
  COMMENT "Compressing the package changelog")
add_custom_target(tallyforge_changelog ALL DEPENDS "${_changelog}")

# --- client -----------------------------------------------------------------------------
install(TARGETS tallyforge-sysinfo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT client)
_tallyforge_man_page(tallyforge-benchmark client "two-minute PC benchmark")
_tallyforge_man_page(tallyforge-sysinfo client "print what the Tallyforge Benchmark reports about this machine")
install(FILES "${CMAKE_SOURCE_DIR}/packaging/tallyforge-benchmark.desktop"
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT client)
configure_file("${CMAKE_SOURCE_DIR}/packaging/net.tallyforge.benchmark.metainfo.xml"
               "${_pkg}/net.tallyforge.benchmark.metainfo.xml" @ONLY)
install(FILES "${_pkg}/net.tallyforge.benchmark.metainfo.xml"
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT client)

# Square icons for the hicolor theme, drawn by the picture script at build time.
set(_icon_sizes 48 64 128 256)
set(_icons "")
foreach(_n ${_icon_sizes})
  list(APPEND _icons "${_pkg}/icons/tallyforge-benchmark-${_n}.png")
endforeach()
add_custom_command(
  OUTPUT ${_icons}
  COMMAND "${TALLYFORGE_PYTHON}" "${CMAKE_SOURCE_DIR}/assets/pictures/make_pictures.py" --icons "${_pkg}/icons"
  DEPENDS "${CMAKE_SOURCE_DIR}/assets/pictures/make_pictures.py"
  COMMENT "Drawing the desktop icons"
  VERBATIM)
add_custom_target(tallyforge_icons ALL DEPENDS ${_icons})
foreach(_n ${_icon_sizes})
  install(FILES "${_pkg}/icons/tallyforge-benchmark-${_n}.png"
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${_n}x${_n}/apps
          RENAME tallyforge-benchmark.png COMPONENT client)
endforeach()

# --- service ----------------------------------------------------------------------------
if(TALLYFORGE_BUILD_SERVICE)
  install(TARGETS tallyforge-results RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT service)
  _tallyforge_man_page(tallyforge-results service "receive, store and show Tallyforge Benchmark results")
  install(FILES "${CMAKE_SOURCE_DIR}/assets/digest_salt.bin"
          DESTINATION ${CMAKE_INSTALL_DATADIR}/tallyforge COMPONENT service)
  # The unit names the installed paths, so it is made for this prefix. Installed but not
  # enabled: the service needs a certificate first.
  configure_file("${CMAKE_SOURCE_DIR}/packaging/tallyforge-results.service.in"
                 "${_pkg}/tallyforge-results.service" @ONLY)
  install(FILES "${_pkg}/tallyforge-results.service" DESTINATION lib/systemd/system COMPONENT service)
  # One instance per port behind nginx (deploy/ and the README's deployment section).
  install(FILES "${CMAKE_SOURCE_DIR}/deploy/systemd/tallyforge-results@.service"
          DESTINATION lib/systemd/system COMPONENT service)
  # The lintian remarks that do not apply to this package, each with its reason.
  install(FILES "${CMAKE_SOURCE_DIR}/packaging/lintian/tallyforge-results"
          DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides COMPONENT service)
endif()

# Each package's documentation folder: Debian's copyright file and changelog.
set(_packages client tallyforge-benchmark)
if(TALLYFORGE_BUILD_SERVICE)
  list(APPEND _packages service tallyforge-results)
endif()
while(_packages)
  list(POP_FRONT _packages _component _name)
  install(FILES "${CMAKE_SOURCE_DIR}/packaging/copyright" "${_changelog}"
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${_name} COMPONENT ${_component})
endwhile()

# --- Debian packages --------------------------------------------------------------------
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "tallyforge")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_CONTACT "The Tallyforge developers <team@tallyforge.net>")
set(CPACK_PACKAGING_INSTALL_PREFIX "${CMAKE_INSTALL_PREFIX}")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL client)
if(TALLYFORGE_BUILD_SERVICE)
  list(APPEND CPACK_COMPONENTS_ALL service)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://tallyforge.net/")

set(CPACK_DEBIAN_CLIENT_PACKAGE_NAME tallyforge-benchmark)
set(CPACK_DEBIAN_CLIENT_PACKAGE_SECTION utils)
# Run-time helpers: the browser opener, the message boxes, and the PCI names database.
set(CPACK_DEBIAN_CLIENT_PACKAGE_RECOMMENDS "xdg-utils, zenity, pci.ids")
set(CPACK_COMPONENT_CLIENT_DESCRIPTION "two-minute PC benchmark
Tallyforge Benchmark measures the processor with two compute kernels at 1 to
64 threads and the graphics card with four animated full-screen scenes,
describes the machine and sends the result to the Tallyforge result service,
which shows it on a web page. tallyforge-sysinfo prints the machine
description the benchmark sends, without running it.")

set(CPACK_DEBIAN_SERVICE_PACKAGE_NAME tallyforge-results)
set(CPACK_DEBIAN_SERVICE_PACKAGE_SECTION net)
set(CPACK_COMPONENT_SERVICE_DESCRIPTION "result service of the Tallyforge Benchmark
tallyforge-results receives the results the Tallyforge Benchmark sends over
HTTPS, checks them, stores them in SQLite or PostgreSQL and serves their
pages. A systemd unit is included but not enabled.")

include(CPack)
