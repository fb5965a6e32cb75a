# The Debian package, made from the installation (cmake/install.cmake):
#   cmake --build build --target ostrel && (cd build && cpack -G DEB)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ostrel)
set(CPACK_PACKAGE_VENDOR OSTREL)
set(CPACK_PACKAGE_CONTACT "OSTREL client developers <client@ostrel.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Desktop VPN client for the OSTREL service")
set(CPACK_PACKAGE_DESCRIPTION "A Qt desktop client that connects to the OSTREL VPN service with OpenVPN, optionally through a V2Ray proxy, with a kill switch and DNS handling.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The programs the client and its scripts call, the Qt libraries and the QML
# modules its pages import, and pkexec for the desktop entry.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "openvpn, iptables, iputils-ping, v2ray, pkexec | policykit-1, xdg-utils, bash, coreutils, \
libqt5core5a (>= 5.15), libqt5gui5 (>= 5.15), libqt5widgets5 (>= 5.15), libqt5network5 (>= 5.15), \
libqt5qml5 (>= 5.15), libqt5quick5 (>= 5.15), libqt5quickcontrols2-5 (>= 5.15), libqt5svg5, \
qml-module-qtquick2, qml-module-qtquick-window2, qml-module-qtquick-layouts, qml-module-qtquick-templates2, \
qml-module-qtquick-controls2, qml-module-qtquick-controls, qml-module-qtquick-dialogs, \
qml-module-qtgraphicaleffects, libarchive13, libc6, libstdc++6")
include(CPack)
