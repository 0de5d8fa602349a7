# The usual Debian hardening for the programs the native release build
# ships, and for every library of ours they are made of: fortified string
# and memory calls (which need the optimiser), stack protection, read-only
# relocations resolved at start-up, position-independent executables. None
# of it touches floating point, so the state hashes stay. Sanitizer and
# fuzzing builds bring checks of their own; the Windows and web builds have
# their own linkers and loaders.
#
#   pondsim_harden(program...)
include(CheckPIESupported)

function(pondsim_harden_target target)
  get_target_property(type ${target} TYPE)
  get_target_property(imported ${target} IMPORTED)
  if(imported OR type STREQUAL "INTERFACE_LIBRARY")
    return()
  endif()
  get_property(done GLOBAL PROPERTY PONDSIM_HARDENED)
  if(target IN_LIST done)
    return()
  endif()
  set_property(GLOBAL APPEND PROPERTY PONDSIM_HARDENED ${target})

  set(release "$<CONFIG:Release>")
  target_compile_options(${target} PRIVATE
    $<${release}:-D_FORTIFY_SOURCE=2> $<${release}:-fstack-protector-strong>)
  if(type STREQUAL "EXECUTABLE")
    set_target_properties(${target} PROPERTIES POSITION_INDEPENDENT_CODE ON)
    target_link_options(${target} PRIVATE $<${release}:LINKER:-z,relro> $<${release}:LINKER:-z,now>)
  else()
    # Code for an executable, not a shared library: -fPIC would let every
    # global function be interposed and keep it from being inlined.
    target_compile_options(${target} PRIVATE $<${release}:-fPIE>)
  endif()

  # What the target is built from: the libraries it links and the object
  # libraries among its sources.
  get_target_property(libraries ${target} LINK_LIBRARIES)
  get_target_property(sources ${target} SOURCES)
  foreach(item IN LISTS libraries sources)
    string(REGEX REPLACE "^\\$<TARGET_OBJECTS:(.+)>$" "\\1" item "${item}")
    if(TARGET ${item})
      pondsim_harden_target(${item})
    endif()
  endforeach()
endfunction()

function(pondsim_harden)
  if(WIN32 OR EMSCRIPTEN OR PONDSIM_SANITIZE OR PONDSIM_BUILD_FUZZERS)
    return()
  endif()
  check_pie_supported()
  foreach(program IN LISTS ARGN)
    if(TARGET ${program})
      pondsim_harden_target(${program})
    endif()
  endforeach()
endfunction()
