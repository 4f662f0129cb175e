# What `cmake --install` puts where, in three components, one per Debian
# package (cmake/package.cmake):
#
#   runtime      penlark-remote: the agent at the path the plug-in starts, the
#                plug-in, the udev rule, the registration script, the doctor,
#                the reference client and the dissector when they are built,
#                documentation and licences
#   library      libinkora-nibline2: the device library as a shared library
#   development  libinkora-nibline-dev: its C headers, the linker name and
#                the pkg-config file
#
# The agent and the udev rule go to absolute paths (the plug-in's built-in
# agent path and the directory udev reads), so they do not move with
# CMAKE_INSTALL_PREFIX; DESTDIR applies to them as to everything else.
include(GNUInstallDirs)

set(INKORA_AGENT_INSTALL_DIR "/opt/penlark-remote" CACHE PATH
    "Directory of penlark-remote-standalone (the plug-in's default agent path)")
set(INKORA_UDEV_RULES_DIR "/usr/lib/udev/rules.d" CACHE PATH "Directory of the udev rule")
set(INKORA_PLUGIN_INSTALL_SUBDIR "${CMAKE_INSTALL_LIBDIR}/penlark-remote")
set(INKORA_UDEV_RULE_NAME "70-penlark-remote.rules")
set(INKORA_DOC_SUBDIR "${CMAKE_INSTALL_DATADIR}/doc")

# --- the two deliverables
if(TARGET penlark-remote-standalone)
    install(TARGETS penlark-remote-standalone
        RUNTIME DESTINATION ${INKORA_AGENT_INSTALL_DIR} COMPONENT runtime)
endif()
if(TARGET ica-pipe)
    install(TARGETS ica-pipe
        LIBRARY DESTINATION ${INKORA_PLUGIN_INSTALL_SUBDIR} COMPONENT runtime
        NAMELINK_SKIP)
endif()

# --- the device library for applications
if(TARGET inkora-nibline-shared)
    install(TARGETS inkora-nibline-shared
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT library
        NAMELINK_COMPONENT development
        PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/inkora COMPONENT development)
    install(FILES ${PROJECT_BINARY_DIR}/src/inkora-nibline-shared/inkora-nibline.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)
endif()

# --- the reference client and the Wireshark dissector, when they are built
if(TARGET inkora-remote)
    install(TARGETS inkora-remote RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
endif()
if(TARGET inkora-wireshark-dissector)
    install(TARGETS inkora-wireshark-dissector
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/wireshark/plugins COMPONENT runtime NAMELINK_SKIP)
endif()
# A Lua dissector is data: Wireshark loads it from a plug-in folder the user
# points it at (or a copy in ~/.local/lib/wireshark/plugins/).
file(GLOB _inkora_lua_dissectors ${PROJECT_SOURCE_DIR}/tools/*/*.lua)
if(_inkora_lua_dissectors)
    install(FILES ${_inkora_lua_dissectors}
        DESTINATION ${CMAKE_INSTALL_DATADIR}/penlark-remote/wireshark COMPONENT runtime)
endif()

# --- the udev rule that lets the logged-in user open the pads
install(FILES ${PROJECT_SOURCE_DIR}/packaging/udev/${INKORA_UDEV_RULE_NAME}
    DESTINATION ${INKORA_UDEV_RULES_DIR} COMPONENT runtime)

# --- the registration script and the doctor
# They name installed paths, which are known only when the install runs
# (CPack installs with its own prefix), so they are filled in then, into the
# build tree, and installed from there.
set(_inkora_scripts
    "packaging/penlark-remote-register.in|${CMAKE_INSTALL_SBINDIR}|penlark-remote-register"
    "tools/inkora-doctor/inkora-remote-doctor.in|${CMAKE_INSTALL_BINDIR}|inkora-remote-doctor")
foreach(_entry IN LISTS _inkora_scripts)
    string(REPLACE "|" ";" _entry "${_entry}")
    list(GET _entry 0 _source)
    list(GET _entry 1 _dir)
    list(GET _entry 2 _name)
    install(CODE "
        set(_prefix \"\${CMAKE_INSTALL_PREFIX}\")
        set(INKORA_PLUGIN_INSTALL_PATH \"\${_prefix}/${INKORA_PLUGIN_INSTALL_SUBDIR}/ica-pipe.so\")
        set(INKORA_AGENT_INSTALL_PATH \"${INKORA_AGENT_INSTALL_DIR}/penlark-remote-standalone\")
        set(INKORA_REGISTER_INSTALL_PATH \"\${_prefix}/${CMAKE_INSTALL_SBINDIR}/penlark-remote-register\")
        set(INKORA_UDEV_RULE_INSTALL_PATH \"${INKORA_UDEV_RULES_DIR}/${INKORA_UDEV_RULE_NAME}\")
        set(INKORA_UDEV_RULE_NAME \"${INKORA_UDEV_RULE_NAME}\")
        set(PROJECT_VERSION \"${PROJECT_VERSION}\")
        configure_file(\"${PROJECT_SOURCE_DIR}/${_source}\"
                       \"${PROJECT_BINARY_DIR}/install-time/${_name}\" @ONLY)
        file(INSTALL DESTINATION \"\${_prefix}/${_dir}\" TYPE PROGRAM
             FILES \"${PROJECT_BINARY_DIR}/install-time/${_name}\")
    " COMPONENT runtime)
endforeach()

# --- documentation and licences, one directory per package
set(_inkora_runtime_docs ${PROJECT_SOURCE_DIR}/README.md)
foreach(_licence
        ${PROJECT_SOURCE_DIR}/src/inkora-graphics-enhanced-fonts/generated/LICENCE)
    if(EXISTS ${_licence})
        list(APPEND _inkora_runtime_docs ${_licence})
    endif()
endforeach()
install(FILES ${_inkora_runtime_docs}
    DESTINATION ${INKORA_DOC_SUBDIR}/penlark-remote COMPONENT runtime)
file(GLOB _inkora_font_specimens ${PROJECT_SOURCE_DIR}/docs/fonts/*.png)
if(_inkora_font_specimens)
    install(FILES ${_inkora_font_specimens}
        DESTINATION ${INKORA_DOC_SUBDIR}/penlark-remote/fonts COMPONENT runtime)
endif()

# Every package carries the copyright file and the Debian changelog
# (compressed as Debian packages ship it) in its own documentation directory.
find_program(INKORA_GZIP gzip)
set(_inkora_changelog ${PROJECT_BINARY_DIR}/packaging/changelog.Debian.gz)
if(INKORA_GZIP)
    add_custom_command(OUTPUT ${_inkora_changelog}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/packaging
        COMMAND ${INKORA_GZIP} -9n -c ${PROJECT_SOURCE_DIR}/packaging/debian/changelog > ${_inkora_changelog}
        DEPENDS ${PROJECT_SOURCE_DIR}/packaging/debian/changelog
        VERBATIM)
    add_custom_target(inkora-debian-changelog ALL DEPENDS ${_inkora_changelog})
endif()
foreach(_pair "runtime|penlark-remote" "library|libinkora-nibline2" "development|libinkora-nibline-dev")
    string(REPLACE "|" ";" _pair "${_pair}")
    list(GET _pair 0 _component)
    list(GET _pair 1 _package)
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/copyright
        DESTINATION ${INKORA_DOC_SUBDIR}/${_package} COMPONENT ${_component})
    if(INKORA_GZIP)
        install(FILES ${_inkora_changelog}
            DESTINATION ${INKORA_DOC_SUBDIR}/${_package} COMPONENT ${_component})
    endif()
endforeach()

# The Debian packages made from these components.
include(${CMAKE_CURRENT_LIST_DIR}/package.cmake)
