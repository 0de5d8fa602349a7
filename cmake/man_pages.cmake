# The manual pages of the Debian package, gzipped as Debian wants them. The
# two windowed programs take no command line, so theirs are written by hand
# (packaging/pondsim.1.in); the headless drivers' come from their own --help
# and --version through help2man, which runs them, so only a native build
# with help2man makes those.
set(man_dir ${PROJECT_BINARY_DIR}/man)
file(MAKE_DIRECTORY ${man_dir})

foreach(program IN ITEMS pondsim pondsim-wide)
  set(PROGRAM ${program})
  string(TOUPPER ${program} MAN_TITLE)
  if(program STREQUAL "pondsim")
    set(MAN_SUMMARY "real-time fluid demonstration with particles")
    set(MAN_VARIANT "Each particle keeps up to 32 neighbours, and the solver takes every stage
(density, forces, integration) over all particles before the next.")
    set(MAN_SEE_ALSO pondsim-wide)
  else()
    set(MAN_SUMMARY "real-time fluid demonstration, each particle through all stages in turn")
    set(MAN_VARIANT "Each particle keeps up to 64 neighbours, and the solver takes each particle
through all stages (density, forces, integration) before the next; the
fluid stands taller and sparser than in
.BR pondsim (1),
and its points are drawn round.")
    set(MAN_SEE_ALSO pondsim)
  endif()
  configure_file(packaging/pondsim.1.in ${man_dir}/${program}.1 @ONLY)
  execute_process(
    COMMAND gzip -9nc ${man_dir}/${program}.1
    OUTPUT_FILE ${man_dir}/${program}.1.gz
    COMMAND_ERROR_IS_FATAL ANY)
  install(FILES ${man_dir}/${program}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()

# The lab's window takes a few options of its own; its page is written too.
configure_file(packaging/pondsim-lab.1.in ${man_dir}/pondsim-lab.1 @ONLY)
execute_process(
  COMMAND gzip -9nc ${man_dir}/pondsim-lab.1
  OUTPUT_FILE ${man_dir}/pondsim-lab.1.gz
  COMMAND_ERROR_IS_FATAL ANY)
install(FILES ${man_dir}/pondsim-lab.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

find_program(PONDSIM_HELP2MAN help2man)
if(CMAKE_CROSSCOMPILING OR NOT PONDSIM_HELP2MAN)
  message(STATUS "No manual pages of the headless drivers: they need a native build and help2man")
  return()
endif()
set(pages)
foreach(program IN ITEMS pondsim-headless pondsim-wide-headless pondsim-lab-headless)
  if(NOT TARGET ${program})
    continue()
  endif()
  string(REPLACE "-headless" "" windowed ${program})
  if(program STREQUAL "pondsim-lab-headless")
    set(summary "run the lab's fluid solver on named scenes without a window, for figures, pictures and files")
  else()
    set(summary "run the ${windowed} fluid without a window, for figures, pictures and files")
  endif()
  add_custom_command(
    OUTPUT ${man_dir}/${program}.1.gz
    COMMAND ${PONDSIM_HELP2MAN} --no-info --output=${man_dir}/${program}.1
            "--name=${summary}"
            $<TARGET_FILE:${program}>
    COMMAND gzip -9nf ${man_dir}/${program}.1
    DEPENDS ${program}
    COMMENT "Manual page of ${program}"
    VERBATIM)
  list(APPEND pages ${man_dir}/${program}.1.gz)
  install(FILES ${man_dir}/${program}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
add_custom_target(pondsim_man_pages ALL DEPENDS ${pages})
