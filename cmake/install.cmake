# The installable product: `cmake --install` puts kvrac in bin/, the driver library in
# a private folder of the library directory (found by kvrac through its install RPATH),
# the documentation in share/doc/kvrac and the manual page kvrac.1 (written at build
# time from kvrac's --help texts by help2man) in share/man/man1. `cpack -G DEB` makes a
# Debian package of the same tree.
#
# Included after the kvrac targets exist and before the programs in app/ are added, so
# that those programs get the same install RPATH and can add their own install rules.
include(GNUInstallDirs)

# The version every program prints (--version).
target_compile_definitions(kvrac_app PRIVATE KVRAC_VERSION="${PROJECT_VERSION}")

# The driver library is the programs' own, not one for other programs to link.
set(KVRAC_INSTALL_DRIVER_DIR ${CMAKE_INSTALL_LIBDIR}/kvrac)
if(NOT WIN32)
    file(RELATIVE_PATH KVRAC_BIN_TO_DRIVER ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}
         ${CMAKE_INSTALL_PREFIX}/${KVRAC_INSTALL_DRIVER_DIR})
    # Programs added after this point find the driver relative to themselves.
    set(CMAKE_INSTALL_RPATH "$ORIGIN/${KVRAC_BIN_TO_DRIVER}")
    set_target_properties(kvrac PROPERTIES INSTALL_RPATH "$ORIGIN/${KVRAC_BIN_TO_DRIVER}")
endif()

install(TARGETS kvrac RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(WIN32)
    install(TARGETS kvrac_f RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
else()
    install(TARGETS kvrac_f LIBRARY DESTINATION ${KVRAC_INSTALL_DRIVER_DIR})
endif()
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR}
        FILES_MATCHING PATTERN "*.md")

# The manual page: help2man runs the freshly built kvrac for --help and --version; the
# commands' own help texts follow as a section of their own.
find_program(HELP2MAN help2man)
if(HELP2MAN AND NOT CMAKE_CROSSCOMPILING)
    set(KVRAC_MAN_PAGE ${PROJECT_BINARY_DIR}/kvrac.1)
    add_custom_command(
        OUTPUT ${KVRAC_MAN_PAGE}
        COMMAND ${CMAKE_COMMAND} -DKVRAC=$<TARGET_FILE:kvrac> -DHELP2MAN=${HELP2MAN}
                -DOUTPUT=${KVRAC_MAN_PAGE} -DWORK=${PROJECT_BINARY_DIR}/man
                -P ${PROJECT_SOURCE_DIR}/cmake/man-page.cmake
        DEPENDS kvrac ${PROJECT_SOURCE_DIR}/cmake/man-page.cmake
        COMMENT "Writing the manual page kvrac.1 from kvrac's help texts"
        VERBATIM)
    add_custom_target(kvrac_man ALL DEPENDS ${KVRAC_MAN_PAGE})
    install(FILES ${KVRAC_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
elseif(NOT WIN32)
    message(STATUS "help2man not found: no manual page (scripts/install-deps.sh installs it)")
endif()

# The Debian package.
set(CPACK_PACKAGE_NAME kvrac)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "kvrac")
set(CPACK_PACKAGE_CONTACT "kvrac maintainers <kvrac@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "plotter driver and command-line host for Orvix 9270/9250 Wide Format printers")
set(CPACK_PACKAGE_DESCRIPTION
    "kvrac plots scripts and PNG images into print jobs (PJL with HP-GL/2 and HP-RTL, or KTGL) through the kvrac_f driver library, configures the driver and shows its settings.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# dpkg-shlibdeps must be told where the package's own private library lies.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
    ${PROJECT_BINARY_DIR} ${CMAKE_INSTALL_PREFIX}/${KVRAC_INSTALL_DRIVER_DIR})
include(CPack)

# The installed product, tried as a user would (tests/install/check-install.cmake).
if(KVRAC_TESTS AND NOT WIN32 AND HELP2MAN)
    foreach(mode install package)
        add_test(NAME install.${mode}
                 COMMAND ${CMAKE_COMMAND} -DBUILD=${PROJECT_BINARY_DIR}
                         -DWORK=${PROJECT_BINARY_DIR}/install-test-${mode} -DMODE=${mode}
                         -P ${PROJECT_SOURCE_DIR}/tests/install/check-install.cmake)
    endforeach()
    set_tests_properties(install.install install.package PROPERTIES RESOURCE_LOCK install_tree)
endif()
