# What `cmake --install` puts where, and the packages that CPack makes of it
# (scripts/package.sh): a Debian package from the native build, a zip from
# the Windows one. Whatever a build has of the four programs is installed, so
# the zip carries the Windows headless drivers once that build makes them.
include(GNUInstallDirs)

if(EMSCRIPTEN)
  # The web archive: the pages with their scripts and modules and the
  # page that links them, ready for any web server.
  foreach(program IN ITEMS pondsim pondsim-wide pondsim-lab)
    if(NOT TARGET ${program})
      continue()
    endif()
    install(FILES ${PROJECT_BINARY_DIR}/${program}.html ${PROJECT_BINARY_DIR}/${program}.js
                  ${PROJECT_BINARY_DIR}/${program}.wasm DESTINATION .)
  endforeach()
  install(FILES ${PROJECT_BINARY_DIR}/index.html ${PROJECT_BINARY_DIR}/pondsim.svg README.md LICENSE
          DESTINATION .)
  # The README's pictures and the pages it links, all in docs/.
  install(DIRECTORY docs/ DESTINATION docs FILES_MATCHING PATTERN "*.png" PATTERN "*.webp" PATTERN "*.md")
  set(CPACK_PACKAGE_NAME pondsim)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME pondsim-${PROJECT_VERSION}-web)
  include(CPack)
  return()
endif()

if(WIN32)
  # One folder to unpack: the programs beside their README.
  set(PONDSIM_BIN_DIR .)
  set(PONDSIM_DOC_DIR .)
  set(PONDSIM_SCENE_DIR scenes)
else()
  set(PONDSIM_BIN_DIR ${CMAKE_INSTALL_BINDIR})
  set(PONDSIM_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/pondsim)
  set(PONDSIM_SCENE_DIR ${CMAKE_INSTALL_DATADIR}/pondsim/scenes)
endif()

foreach(program IN ITEMS pondsim pondsim-wide pondsim-lab pondsim-headless pondsim-wide-headless pondsim-lab-headless)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${PONDSIM_BIN_DIR})
  endif()
endforeach()
install(FILES README.md packaging/controls.txt DESTINATION ${PONDSIM_DOC_DIR})
# The lab's scenes as files, for --scene FILE.toml and the panel.
install(DIRECTORY data/scenes/ DESTINATION ${PONDSIM_SCENE_DIR} FILES_MATCHING PATTERN "*.toml")
# The README's pictures and the pages it links, all in docs/.
install(DIRECTORY docs/ DESTINATION ${PONDSIM_DOC_DIR}/docs FILES_MATCHING PATTERN "*.png" PATTERN "*.webp"
        PATTERN "*.md")

if(NOT WIN32)
  foreach(program IN ITEMS pondsim pondsim-wide pondsim-lab)
    set(PROGRAM ${program})
    set(DESKTOP_NAME ${program})
    if(program STREQUAL "pondsim")
      set(DESKTOP_COMMENT "A few thousand particles of liquid splash and settle in a box")
    elseif(program STREQUAL "pondsim-lab")
      set(DESKTOP_COMMENT "The same fluid with a panel: parameters, scenes and colours changed as it runs")
    else()
      set(DESKTOP_COMMENT "The same fluid, each particle through all stages in turn")
    endif()
    configure_file(packaging/pondsim.desktop.in ${PROJECT_BINARY_DIR}/packaging/${program}.desktop @ONLY)
    install(FILES ${PROJECT_BINARY_DIR}/packaging/${program}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  endforeach()
  install(FILES packaging/pondsim.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  # Debian keeps the licence as doc/<package>/copyright, and only there; it
  # wants the changelog and the manual pages compressed, with no time stamp
  # in the gzip header.
  install(FILES LICENSE DESTINATION ${PONDSIM_DOC_DIR} RENAME copyright)
  execute_process(
    COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/packaging/changelog
    OUTPUT_FILE ${PROJECT_BINARY_DIR}/packaging/changelog.gz
    COMMAND_ERROR_IS_FATAL ANY)
  install(FILES ${PROJECT_BINARY_DIR}/packaging/changelog.gz DESTINATION ${PONDSIM_DOC_DIR})
  if(PONDSIM_MAN_PAGES)
    include(cmake/man_pages.cmake)
  endif()
else()
  # Debian's copyright file is the licence of the zip.
  install(FILES LICENSE DESTINATION ${PONDSIM_DOC_DIR})
endif()

set(CPACK_PACKAGE_NAME pondsim)
set(CPACK_PACKAGE_VENDOR "the pondsim authors")
set(CPACK_PACKAGE_CONTACT "the pondsim authors <pondsim@example.org>")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME pondsim-${PROJECT_VERSION}-windows-x64)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_SECTION science)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "real-time fluid demonstration with particles
A few thousand particles of liquid, simulated with Smoothed Particle
Hydrodynamics, fall, splash and settle in a closed box, drawn with OpenGL and
watched through a free-flight camera. Three programs: pondsim and
pondsim-wide differ in how the solver schedules its work; pondsim-lab shows
the same fluid beside a panel to pause, step and reset it, set any of its
constants, choose a scene (a dam break among them) or the constants of water,
and push the water around while it runs. pondsim-headless,
pondsim-wide-headless and pondsim-lab-headless run them without a window.")
endif()
include(CPack)
