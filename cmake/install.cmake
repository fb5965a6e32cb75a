# The installation: one directory holding the client and everything it runs
# beside itself, as the client expects (the scripts, "openvpn.ostrel", the
# V2Ray client and "ostrel.desktop", the target of the autostart link), plus
# the desktop integration:
#
#   <prefix>/lib/ostrel/ostrel                 the executable
#   <prefix>/lib/ostrel/ostrel-killswitch.sh, ostrel-dns, open_link.sh
#   <prefix>/lib/ostrel/openvpn.ostrel         -> the system's OpenVPN
#   <prefix>/lib/ostrel/v2ray                  starts the system's V2Ray
#   <prefix>/lib/ostrel/ostrel.desktop         the desktop entry
#   <prefix>/bin/ostrel                        -> ../lib/ostrel/ostrel
#   <prefix>/share/applications/ostrel.desktop
#   <prefix>/share/icons/hicolor/scalable/apps/ostrel.svg
#   <prefix>/share/polkit-1/actions/org.ostrel.client.policy
#
# The desktop entry starts the client through pkexec; the polkit action
# names the installed executable and lets it open windows. Files that name
# the installed paths are written when installing, so "cmake --install
# --prefix" and the package both get their own.
set(OSTREL_INSTALL_DIR lib/ostrel)

# The install target builds nothing (the package step would otherwise build
# every test first): build the client before installing.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

install(TARGETS ostrel RUNTIME DESTINATION ${OSTREL_INSTALL_DIR})
install(PROGRAMS
    ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/ostrel-killswitch.sh
    ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/ostrel-dns
    ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/open_link.sh
    DESTINATION ${OSTREL_INSTALL_DIR})
install(FILES ${CMAKE_SOURCE_DIR}/src/resources/artwork/MainWindow/Images/ostrel.svg
    DESTINATION share/icons/hicolor/scalable/apps)

find_program(OSTREL_SYSTEM_V2RAY v2ray PATHS /usr/bin /usr/local/bin)
if(NOT OSTREL_SYSTEM_OPENVPN)
    set(OSTREL_SYSTEM_OPENVPN /usr/sbin/openvpn)
endif()
if(NOT OSTREL_SYSTEM_V2RAY)
    set(OSTREL_SYSTEM_V2RAY /usr/bin/v2ray)
endif()

install(CODE "
    set(_root \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}\")
    set(_dir \"\${_root}/${OSTREL_INSTALL_DIR}\")
    set(OSTREL_INSTALLED_EXECUTABLE \"\${CMAKE_INSTALL_PREFIX}/${OSTREL_INSTALL_DIR}/ostrel\")
    set(OSTREL_SYSTEM_V2RAY \"${OSTREL_SYSTEM_V2RAY}\")
    message(STATUS \"Installing: \${_dir}/openvpn.ostrel -> ${OSTREL_SYSTEM_OPENVPN}\")
    file(REMOVE \"\${_dir}/openvpn.ostrel\")
    file(CREATE_LINK \"${OSTREL_SYSTEM_OPENVPN}\" \"\${_dir}/openvpn.ostrel\" SYMBOLIC)
    message(STATUS \"Installing: \${_dir}/v2ray\")
    configure_file(\"${CMAKE_SOURCE_DIR}/packaging/v2ray.in\" \"\${_dir}/v2ray\" @ONLY
        FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
    message(STATUS \"Installing: \${_dir}/ostrel.desktop\")
    configure_file(\"${CMAKE_SOURCE_DIR}/packaging/ostrel.desktop.in\" \"\${_dir}/ostrel.desktop\" @ONLY)
    message(STATUS \"Installing: \${_root}/share/applications/ostrel.desktop\")
    configure_file(\"${CMAKE_SOURCE_DIR}/packaging/ostrel.desktop.in\" \"\${_root}/share/applications/ostrel.desktop\" @ONLY)
    message(STATUS \"Installing: \${_root}/share/polkit-1/actions/org.ostrel.client.policy\")
    configure_file(\"${CMAKE_SOURCE_DIR}/packaging/org.ostrel.client.policy.in\"
        \"\${_root}/share/polkit-1/actions/org.ostrel.client.policy\" @ONLY)
    message(STATUS \"Installing: \${_root}/bin/ostrel -> ../${OSTREL_INSTALL_DIR}/ostrel\")
    file(MAKE_DIRECTORY \"\${_root}/bin\")
    file(REMOVE \"\${_root}/bin/ostrel\")
    file(CREATE_LINK \"../${OSTREL_INSTALL_DIR}/ostrel\" \"\${_root}/bin/ostrel\" SYMBOLIC)
")
