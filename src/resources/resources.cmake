# Resource trees that need the deployment data: the OpenVPN templates carry
# the service's certificate authorities, static keys and scramble password
# inline, and those live only in the deployment directory. The templates are
# put together here at configure time from ovpnconfs/*.ovpn.in and the
# deployment files; the "mainwindow" tree is configured to take them from the
# build tree. Appends the generated tree to OSTREL_QRC_FILES.
#
# Expects OSTREL_DEPLOYMENT_DIR and OSTREL_QRC_FILES from the including file.

set(OSTREL_RESOURCES_DIR ${CMAKE_CURRENT_LIST_DIR})
set(OSTREL_OVPN_DIR ${CMAKE_CURRENT_BINARY_DIR}/resources/ovpnconfs)

# Reads a deployment file and returns the text from its first "-----BEGIN"
# line to the end of the matching "-----END ...-----" line, LF line ends, no
# final line end.
function(_ostrel_read_pem_block file begin_line out_var)
    set(path ${OSTREL_DEPLOYMENT_DIR}/${file})
    if(NOT EXISTS ${path})
        message(FATAL_ERROR "Deployment file missing: ${path}")
    endif()
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${path})
    file(READ ${path} text)
    string(REPLACE "\r" "" text "${text}")
    string(FIND "${text}" "-----BEGIN ${begin_line}-----\n" start)
    string(FIND "${text}" "-----END ${begin_line}-----" stop)
    if(start EQUAL -1 OR stop EQUAL -1 OR stop LESS start)
        message(FATAL_ERROR "${path}: no \"${begin_line}\" block")
    endif()
    string(LENGTH "-----END ${begin_line}-----" end_len)
    math(EXPR len "${stop} + ${end_len} - ${start}")
    string(SUBSTRING "${text}" ${start} ${len} block)
    set(${out_var} "${block}" PARENT_SCOPE)
endfunction()

function(_ostrel_read_static_key file out_var)
    _ostrel_read_pem_block(${file} "OpenVPN Static key V1" block)
    # 2048 bits: sixteen lines of 32 hexadecimal digits.
    string(REGEX MATCH "^-----BEGIN OpenVPN Static key V1-----\n([0-9a-f]+\n)+-----END OpenVPN Static key V1-----$"
        well_formed "${block}")
    string(REGEX MATCHALL "\n" all_lines "${block}")
    list(LENGTH all_lines line_breaks)
    string(LENGTH "${block}" block_len)
    # BEGIN line, sixteen lines of 32 digits, END line.
    math(EXPR expected_len "37 + 1 + 16 * 33 + 35")
    if(NOT well_formed OR NOT line_breaks EQUAL 17 OR NOT block_len EQUAL expected_len)
        message(FATAL_ERROR "${OSTREL_DEPLOYMENT_DIR}/${file}: not a 2048-bit OpenVPN static key")
    endif()
    set(${out_var} "${block}" PARENT_SCOPE)
endfunction()

_ostrel_read_pem_block(ca-rsa.pem "CERTIFICATE" CA_RSA)
_ostrel_read_pem_block(ca-ec.pem "CERTIFICATE" CA_EC)
_ostrel_read_static_key(static-key-a.key KEY_A)
_ostrel_read_static_key(static-key-b.key KEY_B)
_ostrel_read_static_key(static-key-c.key KEY_C)

set(_pw_file ${OSTREL_DEPLOYMENT_DIR}/scramble-password.txt)
if(NOT EXISTS ${_pw_file})
    message(FATAL_ERROR "Deployment file missing: ${_pw_file}")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_pw_file})
file(READ ${_pw_file} SCRAMBLE_PASSWORD)
string(STRIP "${SCRAMBLE_PASSWORD}" SCRAMBLE_PASSWORD)
string(LENGTH "${SCRAMBLE_PASSWORD}" _pw_len)
if(NOT SCRAMBLE_PASSWORD MATCHES "^[0-9a-fA-F]+$" OR NOT _pw_len EQUAL 40)
    message(FATAL_ERROR "${_pw_file}: the scramble password must be 40 hexadecimal digits")
endif()

file(GLOB _ovpn_sources CONFIGURE_DEPENDS ${OSTREL_RESOURCES_DIR}/ovpnconfs/*.ovpn.in)
foreach(_src ${_ovpn_sources})
    get_filename_component(_name ${_src} NAME)
    string(REGEX REPLACE "\\.in$" "" _name ${_name})
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_src})
    file(READ ${_src} _template)
    string(CONFIGURE "${_template}" _text @ONLY)
    if(_text MATCHES "@[A-Z_]+@")
        message(FATAL_ERROR "${_src}: unknown placeholder left in ${_name}")
    endif()
    file(CONFIGURE OUTPUT ${OSTREL_OVPN_DIR}/${_name} CONTENT "${_text}" @ONLY NEWLINE_STYLE UNIX)
endforeach()

set(_mainwindow_qrc ${CMAKE_CURRENT_BINARY_DIR}/resources/mainwindow.qrc)
configure_file(${OSTREL_RESOURCES_DIR}/mainwindow.qrc.in ${_mainwindow_qrc} @ONLY)
list(APPEND OSTREL_QRC_FILES ${_mainwindow_qrc})

# The scripts tree holds the scripts installed beside the executable, the DNS
# script as configured for this deployment.
set(_linux_qrc ${CMAKE_CURRENT_BINARY_DIR}/resources/linux.qrc)
configure_file(${OSTREL_RESOURCES_DIR}/linux.qrc.in ${_linux_qrc} @ONLY)
list(APPEND OSTREL_QRC_FILES ${_linux_qrc})
