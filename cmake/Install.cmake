# Where an installed rh lives: programs in bin, the kit's libraries and the screen modules in a
# private folder of the library directory, found through RPATH and a path relative to rh.
include(GNUInstallDirs)

set(RH_PRIVATE_LIBDIR ${CMAKE_INSTALL_LIBDIR}/rh)
set(RH_MODULES_INSTALLDIR ${RH_PRIVATE_LIBDIR}/modules)
file(RELATIVE_PATH RH_MODULES_FROM_BIN /${CMAKE_INSTALL_BINDIR} /${RH_MODULES_INSTALLDIR})
target_compile_definitions(rhhost PRIVATE RH_INSTALLED_MODULES="${RH_MODULES_FROM_BIN}")

set_target_properties(rh rhserver rhcall PROPERTIES
  INSTALL_RPATH "$ORIGIN/../${RH_PRIVATE_LIBDIR}")
set_target_properties(hrkit hrkitui PROPERTIES INSTALL_RPATH "$ORIGIN")
set_target_properties(zol00900 PROPERTIES INSTALL_RPATH "$ORIGIN/..")

install(TARGETS rh rhserver rhcall RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS hrkit hrkitui LIBRARY DESTINATION ${RH_PRIVATE_LIBDIR})
install(TARGETS zol00900 LIBRARY DESTINATION ${RH_MODULES_INSTALLDIR})
install(FILES packaging/rh.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES host/icons/rh-64.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/64x64/apps
        RENAME rh.png)
install(FILES packaging/rhserver.service DESTINATION lib/systemd/system)
install(FILES README.md server/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

# cpack -G DEB: one package; dpkg-shlibdeps declares the libraries it needs.
set(CPACK_PACKAGE_NAME rh)
set(CPACK_PACKAGE_VENDOR "Equipe RH")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Parâmetros gerais de RH: desktop, servidor e ferramentas")
set(CPACK_PACKAGE_CONTACT "Equipe RH <rh@localhost>")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6sql6-sqlite, qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libqt6sql6-psql, qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_SOURCE_DIR}/packaging/postinst)
include(CPack)
