# Install rules, manual pages and the Debian package (scripts/package.sh).
# Linux only: the Windows build packs a zip of its own (scripts/build-windows.sh).
include(GNUInstallDirs)

set(DEMO_PACKAGE demoplayer)
set(DEMO_PROGRAMS demoplayer demoplayer-maximised demoplayer-1080p demopack democapture demolint demogen)
set(DEMO_INSTALL_PRODUCTION ${CMAKE_INSTALL_FULL_DATADIR}/${DEMO_PACKAGE}/demo)
set(DEMO_INSTALL_BINDIR ${CMAKE_INSTALL_FULL_BINDIR})
set(DEMO_DOCDIR ${CMAKE_INSTALL_DATADIR}/doc/${DEMO_PACKAGE})
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

install(TARGETS ${DEMO_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# One command plays the bundled production from where it is installed.
configure_file(${CMAKE_CURRENT_LIST_DIR}/demoplayer-demo.in ${CMAKE_BINARY_DIR}/packaging/demoplayer-demo @ONLY)
install(PROGRAMS ${CMAKE_BINARY_DIR}/packaging/demoplayer-demo DESTINATION ${CMAKE_INSTALL_BINDIR})

# The bundled production; a pack made in demo/ and partial files stay behind.
install(DIRECTORY ${CMAKE_SOURCE_DIR}/demo/ DESTINATION ${CMAKE_INSTALL_DATADIR}/${DEMO_PACKAGE}/demo
  PATTERN "data.pack" EXCLUDE
  PATTERN ".*" EXCLUDE)

# The manual pages are made from each program's --help and from the authors'
# manual, so they say what those say. Sanitizer builds make none: running
# their programs at build time would bring their reports into the build.
if(NOT SANITIZE)
  find_package(Python3 COMPONENTS Interpreter)
endif()
option(DEMO_MANPAGES "Make and install the manual pages (needs python3)" ${Python3_FOUND})
if(DEMO_MANPAGES)
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  set(MANPAGE ${CMAKE_CURRENT_LIST_DIR}/manpage.py)
  set(MANDIR ${CMAKE_BINARY_DIR}/man)
  file(MAKE_DIRECTORY ${MANDIR})
  set(DEMO_SUMMARY_demoplayer "play a real-time 3D production in step with its music, 1280 x 720")
  set(DEMO_SUMMARY_demoplayer-maximised "play a real-time 3D production, maximised over the screen")
  set(DEMO_SUMMARY_demoplayer-1080p "play a real-time 3D production, 1920 x 1080")
  set(DEMO_SUMMARY_demopack "create, list and extract a production's data.pack")
  set(DEMO_SUMMARY_democapture "render a production to PNG stills, frame sequences and videos")
  set(DEMO_SUMMARY_demolint "check a production's files the way the player reads them")
  set(DEMO_SUMMARY_demogen "make the bundled production's music, models and textures")
  set(pages)
  foreach(program ${DEMO_PROGRAMS})
    add_custom_command(OUTPUT ${MANDIR}/${program}.1.gz
      COMMAND ${Python3_EXECUTABLE} ${MANPAGE} help ${program} ${PROJECT_VERSION}
              "${DEMO_SUMMARY_${program}}" ${MANDIR}/${program}.1.gz -- $<TARGET_FILE:${program}> --help
      DEPENDS ${program} ${MANPAGE} VERBATIM)
    list(APPEND pages ${MANDIR}/${program}.1.gz)
  endforeach()
  add_custom_command(OUTPUT ${MANDIR}/demoplayer-demo.1.gz
    COMMAND ${Python3_EXECUTABLE} ${MANPAGE} help demoplayer-demo ${PROJECT_VERSION}
            "play the bundled production" ${MANDIR}/demoplayer-demo.1.gz
            -- sh ${CMAKE_BINARY_DIR}/packaging/demoplayer-demo --help
    DEPENDS ${CMAKE_BINARY_DIR}/packaging/demoplayer-demo ${MANPAGE} VERBATIM)
  add_custom_command(OUTPUT ${MANDIR}/demoplayer-production.5.gz
    COMMAND ${Python3_EXECUTABLE} ${MANPAGE} markdown demoplayer-production ${PROJECT_VERSION}
            "the files of a production: running order, scenes, materials, models, textures"
            ${CMAKE_SOURCE_DIR}/docs/authoring.md ${MANDIR}/demoplayer-production.5.gz
    DEPENDS ${CMAKE_SOURCE_DIR}/docs/authoring.md ${MANPAGE} VERBATIM)
  add_custom_target(manpages ALL DEPENDS ${pages} ${MANDIR}/demoplayer-demo.1.gz ${MANDIR}/demoplayer-production.5.gz)
  install(FILES ${pages} ${MANDIR}/demoplayer-demo.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${MANDIR}/demoplayer-production.5.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man5)
endif()

# What Debian asks of every package's documentation folder.
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/packaging/changelog.gz
  COMMAND sh -c "gzip -9nc '${CMAKE_CURRENT_LIST_DIR}/changelog' > '${CMAKE_BINARY_DIR}/packaging/changelog.gz'"
  DEPENDS ${CMAKE_CURRENT_LIST_DIR}/changelog VERBATIM)
add_custom_target(changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright ${CMAKE_BINARY_DIR}/packaging/changelog.gz DESTINATION ${DEMO_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${DEMO_PACKAGE})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_PACKAGE_CONTACT "Caldera demo player developers <demoplayer@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "real-time 3D demo player and its authoring tools")
# Lines of the extended description stay within 80 columns, as Debian asks.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "Plays one authored audiovisual production from start to end, in a"
  "borderless window, in step with its music, and reloads whatever an author"
  "saves while it plays. Authors get a checker for a production's files"
  "(demolint), a renderer of stills and videos (democapture), a packer"
  "(demopack) and the generator of the bundled production's content (demogen)."
  "The bundled production plays with demoplayer-demo; the production formats"
  "are described in demoplayer-production(5).")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
