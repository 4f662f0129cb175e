# The Debian packages, built with CPack from the install components of
# cmake/install.cmake (`cpack -G DEB` in the build directory, or the
# `package` target):
#
#   penlark-remote          the agent, the plug-in, udev rule, registration,
#                           doctor, documentation
#   libinkora-nibline2      the shared device library
#   libinkora-nibline-dev   its headers and pkg-config file
#
# Dependencies on the runtime libraries (libudev, libssl, ICU, the C++
# runtime) come from dpkg-shlibdeps on the installed binaries.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME penlark-remote)
set(CPACK_PACKAGE_VENDOR "Penlark")
set(CPACK_PACKAGE_CONTACT "Penlark remote maintainers <maintainers@users.noreply.c-seed-247262c7.example>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime library development)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SOURCE penlark-remote)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(_inkora_control ${PROJECT_BINARY_DIR}/packaging/control)
foreach(_script postinst prerm postrm)
    configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/${_script}.in ${_inkora_control}/${_script}
                   @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                          WORLD_READ WORLD_EXECUTE)
endforeach()
configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/triggers ${_inkora_control}/triggers COPYONLY)

# The agent's path under /opt is fixed by the plug-in; lintian is told so.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/lintian-overrides
    DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME penlark-remote COMPONENT runtime)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME penlark-remote)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_RECOMMENDS "udev")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA
    "${_inkora_control}/postinst;${_inkora_control}/prerm;${_inkora_control}/postrm;${_inkora_control}/triggers")
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "Citrix channel for USB signature pads on Linux clients
 Lets an application in a Citrix remote-desktop session use the signature
 pads plugged into this computer. Contains the Citrix Workspace app plug-in
 ica-pipe, which opens the INKR_VC virtual channel, the agent
 penlark-remote-standalone it starts, a udev rule that gives the logged-in
 user access to the pads, penlark-remote-register to register the plug-in
 with the Citrix client, and inkora-remote-doctor to check an installation.")

set(CPACK_DEBIAN_LIBRARY_PACKAGE_NAME libinkora-nibline2)
set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION libs)
# The shlibs file of the library package (CPack writes it for every package
# that holds a shared library with a soname; only this one does) and the
# ldconfig trigger that refreshes the linker cache after it is unpacked.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
file(WRITE ${_inkora_control}/library/triggers "activate-noawait ldconfig\n")
set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_EXTRA "${_inkora_control}/library/triggers")
set(CPACK_DEBIAN_LIBRARY_DESCRIPTION "device library for the Nibline signature pads
 Discovers the pads through udev, talks to them through hidraw, parses their
 input reports and reads and writes their feature reports. This package holds
 the shared library that applications load.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libinkora-nibline-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS
    "libinkora-nibline2 (= ${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE})")
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION "device library for the Nibline signature pads (development files)
 The C headers, the linker name and the pkg-config file (inkora-nibline) for
 building applications against libinkora-nibline.")

include(CPack)
