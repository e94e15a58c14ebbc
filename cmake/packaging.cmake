# Debian packages (make deb): liborva0 (the shared library), liborva-dev (header, orva.pc,
# the CMake package and the unversioned .so link) and orva (the command and the editor
# files). Each install() names its component; this file maps the components onto packages.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orva)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "ORVA developers <orva@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "embeddable scripting language for C++ hosts")
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime development command)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)

# The library: its dependencies read from the binary; shlibs and the ldconfig trigger
# (CPack writes shlibs, and ldconfig calls in postinst and postrm; the trigger is ours).
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME liborva${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/deb-liborva/triggers)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "ORVA scripting language - shared library")

set(ORVA_DEB_SAME_VERSION "liborva${PROJECT_VERSION_MAJOR} (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME liborva-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "${ORVA_DEB_SAME_VERSION}, libtre-dev")
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION "ORVA scripting language - development files")

# The command links liborva, which dpkg-shlibdeps cannot find in an installed package
# yet, so its dependencies are written out.
set(CPACK_DEBIAN_COMMAND_PACKAGE_NAME orva)
set(CPACK_DEBIAN_COMMAND_PACKAGE_SECTION interpreters)
set(CPACK_DEBIAN_COMMAND_PACKAGE_DEPENDS "${ORVA_DEB_SAME_VERSION}, libedit2 (>= 3.1), libc6, libstdc++6, libgcc-s1")
set(CPACK_COMPONENT_COMMAND_DESCRIPTION "ORVA scripting language - the orva command and editor support")

include(CPack)
