# Install rules and the Debian package.
#   cmake --install build/release                     (prefix /usr/local)
#   cmake -S . -B build/package -DCMAKE_INSTALL_PREFIX=/usr ... && ninja -C build/package
#   (cd build/package && cpack -G DEB)   ->  tarvix-agentd_<version>_<arch>.deb
# The package installs into CMAKE_INSTALL_PREFIX, the prefix the unit and the
# launchd agent were configured with; a Debian package must use /usr.
include(GNUInstallDirs)

set(TARVIX_DOC_DIR "${CMAKE_INSTALL_DATADIR}/doc/tarvix-agentd")
# Debian and systemd look for vendor user units in <prefix>/lib/systemd/user.
set(TARVIX_SYSTEMD_USER_UNIT_DIR "lib/systemd/user" CACHE STRING
  "Install directory of the systemd user unit, relative to the prefix")

# Every program the package ships; each one installs into bin/ beside the
# daemon and gets its runtime dependencies from dpkg-shlibdeps. A program's
# manual page goes into man/ as <program>.1.
set(TARVIX_INSTALLED_PROGRAMS tarvix-agentd tarvix-mcp)
install(TARGETS ${TARVIX_INSTALLED_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The unit and the launchd agent name the binary by its absolute path.
set(TARVIX_FULL_BINDIR "${CMAKE_INSTALL_FULL_BINDIR}")
configure_file(packaging/tarvix-agentd.service.in tarvix-agentd.service @ONLY)
configure_file(packaging/tarvix-agentd.plist.in tarvix-agentd.plist @ONLY)

# Manual pages, compressed as Debian policy asks (man reads both forms).
file(GLOB TARVIX_MAN_PAGES CONFIGURE_DEPENDS man/*.1)
find_program(TARVIX_GZIP gzip)
foreach(page ${TARVIX_MAN_PAGES})
  get_filename_component(name ${page} NAME)
  if(TARVIX_GZIP)
    add_custom_command(OUTPUT man/${name}.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory man
      COMMAND ${TARVIX_GZIP} -9nc ${page} > man/${name}.gz
      DEPENDS ${page} VERBATIM)
    list(APPEND TARVIX_MAN_OUTPUTS ${CMAKE_CURRENT_BINARY_DIR}/man/${name}.gz)
  else()
    list(APPEND TARVIX_MAN_OUTPUTS ${page})
  endif()
endforeach()
add_custom_target(tarvix_man_pages ALL DEPENDS ${TARVIX_MAN_OUTPUTS})
install(FILES ${TARVIX_MAN_OUTPUTS} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

install(FILES README.md LICENSE packaging/copyright packaging/env.example
  DESTINATION ${TARVIX_DOC_DIR})

if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/tarvix-agentd.service
    DESTINATION ${TARVIX_SYSTEMD_USER_UNIT_DIR})
elseif(APPLE)
  # A per-user agent: copied into ~/Library/LaunchAgents with the user's
  # own token, never loaded for every user from /Library/LaunchAgents.
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/tarvix-agentd.plist
    DESTINATION ${CMAKE_INSTALL_DATADIR}/tarvix-agentd
    RENAME org.tarvix.agentd.plist)
endif()

set(CPACK_PACKAGE_NAME tarvix-agentd)
set(CPACK_PACKAGE_VENDOR "The tarvix-agentd developers")
set(CPACK_PACKAGE_CONTACT "The tarvix-agentd developers <tarvix-agentd@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "local RPC daemon that lets an AI agent operate the desktop")
set(CPACK_PACKAGE_DESCRIPTION
  "tarvix-agentd listens on 127.0.0.1 and takes bearer-token JSON calls on
POST /rpc: system information, processes, directory listings, file reads,
screenshots and the window list; with --allow-exec also file writes,
commands, process kills and mouse and keyboard input. Every call is
recorded in an audit log. A systemd user unit starts it with the
graphical session.")
set(CPACK_RESOURCE_FILE_LICENSE "${CMAKE_CURRENT_SOURCE_DIR}/LICENSE")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_NAME tarvix-agentd)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGING_INSTALL_PREFIX "${CMAKE_INSTALL_PREFIX}")
set(CPACK_PROJECT_CONFIG_FILE "${CMAKE_CURRENT_SOURCE_DIR}/cmake/cpack_checks.cmake")
include(CPack)
