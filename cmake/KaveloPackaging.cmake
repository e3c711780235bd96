# Installation and the Debian package (scripts/package): the two programs, the documentation, the systemd units
# (the service, the nightly backup and its timer) and the Prometheus alert rules, with maintainer scripts that
# create the user kavelo and prepare /var/lib/kavelo and /var/backups/kavelo. Dependencies are worked out by
# dpkg-shlibdeps.
include(GNUInstallDirs)

install(TARGETS kavelo kavelo-terminal RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs)
set(KAVELO_UNITS packaging/kavelo.service packaging/kavelo-backup.service packaging/kavelo-backup.timer)
install(FILES ${KAVELO_UNITS} DESTINATION lib/systemd/system)
install(FILES packaging/prometheus/kavelo-alerts.yml DESTINATION ${CMAKE_INSTALL_DATADIR}/kavelo/prometheus)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kavelo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "PC side of the data exchange with handheld data-collection terminals")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "KAVELO serves the terminals of a retail store: it keeps the order and\n\
stocktaking files they send, builds each terminal's master files from update\n\
files and a database, and imports the host system's masters. It runs as the\n\
systemd service kavelo.service in /var/lib/kavelo, or as a small window.")
set(CPACK_PACKAGE_CONTACT "KAVELO maintainers <root@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The maintainer scripts' own needs; libraries come from dpkg-shlibdeps. The window's platform plug-in and a
# Japanese font are loaded at run time, which dpkg-shlibdeps cannot see; the service needs neither.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "qt6-qpa-plugins, fonts-noto-cjk")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/debian/postinst
                                       ${PROJECT_SOURCE_DIR}/packaging/debian/prerm
                                       ${PROJECT_SOURCE_DIR}/packaging/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
include(CPack)

if(KAVELO_TESTS)
    list(TRANSFORM KAVELO_UNITS PREPEND ${PROJECT_SOURCE_DIR}/ OUTPUT_VARIABLE unit_paths)
    add_test(NAME packaging.UnitsPassSystemdAnalyzeVerify
             COMMAND sh ${PROJECT_SOURCE_DIR}/packaging/verify-unit $<TARGET_FILE:kavelo> ${unit_paths})
    set_tests_properties(packaging.UnitsPassSystemdAnalyzeVerify PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 60)
    # The alert rules: promtool (Debian's prometheus package, in scripts/install-deps) checks them and runs their
    # unit tests, in which every alert fires and clears.
    set(alerts ${PROJECT_SOURCE_DIR}/packaging/prometheus)
    add_test(NAME packaging.AlertRulesPassPromtoolCheck COMMAND promtool check rules ${alerts}/kavelo-alerts.yml)
    add_test(NAME packaging.AlertRulesFireAndClear COMMAND promtool test rules ${alerts}/kavelo-alerts.test.yml)
    set_tests_properties(packaging.AlertRulesPassPromtoolCheck packaging.AlertRulesFireAndClear PROPERTIES TIMEOUT 60)
endif()
