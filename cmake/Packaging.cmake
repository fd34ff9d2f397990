# Installation and packages: `cmake --install` and CPack (.deb on Linux, .zip on Windows).
include(GNUInstallDirs)

install(TARGETS tallyforge-benchmark RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT client)

if(NOT WIN32)
  if(TARGET tallyforge-results)
    install(TARGETS tallyforge-results RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT service)
    install(FILES "${CMAKE_SOURCE_DIR}/assets/digest_salt.bin"
            DESTINATION ${CMAKE_INSTALL_DATADIR}/tallyforge COMPONENT service)
    # Installed but not enabled: the service needs a certificate first.
    # The template is for instances behind nginx (deploy/ and the README's deployment section).
    install(FILES "${CMAKE_SOURCE_DIR}/packaging/tallyforge-results.service"
                  "${CMAKE_SOURCE_DIR}/deploy/systemd/tallyforge-results@.service"
            DESTINATION lib/systemd/system COMPONENT service)
  endif()
  if(TARGET tallyforge-sysinfo)
    install(TARGETS tallyforge-sysinfo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT client)
  endif()
  install(FILES "${CMAKE_SOURCE_DIR}/packaging/tallyforge-benchmark.desktop"
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT client)
  install(FILES "${CMAKE_SOURCE_DIR}/assets/pictures/logo.png"
          DESTINATION ${CMAKE_INSTALL_DATADIR}/pixmaps RENAME tallyforge-benchmark.png COMPONENT client)

  set(CPACK_GENERATOR "DEB")
  set(CPACK_PACKAGE_NAME "tallyforge")
  set(CPACK_PACKAGE_CONTACT "The Tallyforge team <team@tallyforge.net>")
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Two-minute PC benchmark and its result service")
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
elseif(EXISTS "${CMAKE_CURRENT_LIST_DIR}/PackagingWindows.cmake")
  include(PackagingWindows)
endif()

set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
include(CPack)
