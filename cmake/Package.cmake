# `cpack -G DEB` in the build folder: a Debian package of what `cmake --install` installs, under /usr.
set(CPACK_PACKAGE_NAME finger-quobix)
set(CPACK_PACKAGE_VENDOR "Tesselwick Solutions")
set(CPACK_PACKAGE_CONTACT "Yarbo <yarbo@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "finger client and finger server in the system tray")
# Lines of at most 80 columns, as Debian wants them.
set(CPACK_PACKAGE_DESCRIPTION "Looks up users on other hosts with the finger protocol (RFC 1288): type a
host and a user name, run a short or a long query and read the reply. Meanwhile
it answers whoever fingers this machine with your profile and notes each
visitor. It keeps the last 20 hosts, saves and prints the transcript, lives in
the system tray and opens finger: links.")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# A Debian revision, so the package is not taken for a native one (its changelog is changelog.Debian.gz).
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.example.org/yarbo/")
# The libraries come from the scan of the binary; the SVG icon engine is a plugin it cannot see.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libcap2-bin, fonts-liberation, qt6-wayland")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/data/debian/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
