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
install(FILES README.md server/README.md packaging/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES packaging/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
        RENAME rh)

# The changelog and the manual pages, compressed as Debian expects. The pages come from each
# program's --help, so they need help2man; without it the build leaves them out and says so.
set(RH_PACKAGE_RELEASE 1)
set(RH_GENERATED_DOCS ${CMAKE_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${RH_GENERATED_DOCS})
add_custom_command(OUTPUT ${RH_GENERATED_DOCS}/changelog.Debian.gz
  COMMAND gzip -9nc ${CMAKE_SOURCE_DIR}/packaging/changelog > ${RH_GENERATED_DOCS}/changelog.Debian.gz
  DEPENDS ${CMAKE_SOURCE_DIR}/packaging/changelog VERBATIM)
set(RH_DOC_OUTPUTS ${RH_GENERATED_DOCS}/changelog.Debian.gz)
install(FILES ${RH_GENERATED_DOCS}/changelog.Debian.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
find_program(RH_HELP2MAN help2man)
if(RH_HELP2MAN)
  foreach(page "rh|desktop de Recursos Humanos: parâmetros gerais e demais telas"
               "rhserver|servidor de aplicação dos parâmetros gerais de RH"
               "rhcall|chama um método do serviço de parâmetros de RH")
    string(REPLACE "|" ";" page "${page}")
    list(GET page 0 program)
    list(GET page 1 description)
    add_custom_command(OUTPUT ${RH_GENERATED_DOCS}/${program}.1.gz
      COMMAND bash ${CMAKE_SOURCE_DIR}/packaging/manpage.sh $<TARGET_FILE:${program}>
              ${description} ${RH_GENERATED_DOCS}/${program}.1.gz
      DEPENDS ${program} ${CMAKE_SOURCE_DIR}/packaging/manpage.sh VERBATIM)
    list(APPEND RH_DOC_OUTPUTS ${RH_GENERATED_DOCS}/${program}.1.gz)
    install(FILES ${RH_GENERATED_DOCS}/${program}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endforeach()
else()
  message(STATUS "help2man não encontrado: as páginas de manual ficam de fora")
endif()
add_custom_target(rhdocs ALL DEPENDS ${RH_DOC_OUTPUTS})

# cpack -G DEB: the package and its -dbgsym package with the debug symbols; dpkg-shlibdeps
# declares the libraries it needs.
set(CPACK_PACKAGE_NAME rh)
set(CPACK_PACKAGE_VENDOR "Equipe RH")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "parâmetros gerais de RH: desktop, servidor e ferramentas")
set(CPACK_PACKAGE_DESCRIPTION
  "A tela de parâmetros gerais do sistema de Recursos Humanos: encargos da\n\
folha, cesta básica, experiência e férias, dias de fechamento por filial,\n\
convênios médicos, pastas da folha de pagamento e os questionários de cada\n\
cargo e departamento.\n\
\n\
O pacote traz o desktop rh, que abre a tela num servidor interno ou num\n\
servidor da rede; o servidor de aplicação rhserver, sobre SQLite ou\n\
PostgreSQL, com o serviço rhserver do systemd; e a ferramenta rhcall, que\n\
chama os métodos do serviço pela linha de comando.")
set(CPACK_PACKAGE_CONTACT "Equipe RH <maintainers@users.noreply.c-seed-03b36de0.example>")
set(CPACK_DEBIAN_PACKAGE_RELEASE ${RH_PACKAGE_RELEASE})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser, libqt6sql6-sqlite, qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libqt6sql6-psql, qt6-translations-l10n")
# A postrm of our own: cpack's would call ldconfig, which the libraries in the private folder,
# found through RPATH, do not need.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_SOURCE_DIR}/packaging/postinst
                                       ${CMAKE_SOURCE_DIR}/packaging/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Stripped programs and libraries; their symbols in .debug files in the rh-dbgsym folder.
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_SOURCE_DIR}/packaging/split-debug.cmake)
include(CPack)
