# The Debian package quorvant-host, made by `cpack -G DEB` in a Linux build:
# the install tree under /usr plus the system-wide host manifests (conffiles,
# so an administrator's allowed IDs survive upgrades), with the dependencies
# that dpkg-shlibdeps finds in the binaries.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorvant-host)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Quorvant)
set(CPACK_PACKAGE_CONTACT "Quorvant <packages@quorvant.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "browser native-messaging host that signs for web pages")
set(CPACK_PACKAGE_DESCRIPTION "The Quorvant signing host lets the Quorvant browser extension sign
files and data for web pages with the person's key containers. It is started
by Chromium, Google Chrome, Microsoft Edge or Firefox as the native-messaging
host com.quorvant.signing_host, registered for every user by this package.
The package holds the software token, which keeps key containers in the
user's home directory, and its tool quorvant_token.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_PREFIX /usr)
# The manifests name the final path of the host: install with DESTDIR, not
# into a staging prefix.
set(CPACK_SET_DESTDIR ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_CMAKE_PROJECTS
    "${PROJECT_BINARY_DIR};quorvant;programs;/"
    "${PROJECT_BINARY_DIR};quorvant;system;/")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Consent: both token libraries ask the person through pinentry; the PKCS#11
# one reaches the tokens through p11-kit's proxy module.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "pinentry-curses | pinentry")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "p11-kit-modules")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# The Chromium family's manifests (Firefox's lies under /usr, not /etc).
set(conffiles "")
foreach(dir IN LISTS QUORVANT_CHROMIUM_MANIFEST_DIRS)
  string(APPEND conffiles "${dir}/com.quorvant.signing_host.json\n")
endforeach()
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/debian/conffiles "${conffiles}")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_BINARY_DIR}/debian/conffiles)

# /usr/share/doc/quorvant-host: the copyright file and the changelog,
# compressed as Debian policy asks (gzip -9n: no name, no time stamp).
configure_file(changelog.in ${CMAKE_CURRENT_BINARY_DIR}/debian/changelog @ONLY)
add_custom_command(OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/debian/changelog.gz
  COMMAND gzip -9nf -k debian/changelog
  DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/debian/changelog
  WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR} VERBATIM)
add_custom_target(debian_changelog ALL DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/debian/changelog.gz)
install(FILES copyright ${CMAKE_CURRENT_BINARY_DIR}/debian/changelog.gz
        DESTINATION share/doc/quorvant-host COMPONENT system EXCLUDE_FROM_ALL)
install(FILES lintian-overrides RENAME quorvant-host DESTINATION share/lintian/overrides
        COMPONENT system EXCLUDE_FROM_ALL)

include(CPack)
