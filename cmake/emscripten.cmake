# The web build: Debian's emscripten package, or the one $EMSCRIPTEN names.
# Debian's emcc finds its JavaScript modules through NODE_PATH
# (/usr/share/nodejs), which the web preset sets.
if(DEFINED ENV{EMSCRIPTEN})
  set(PONDSIM_EMSCRIPTEN_ROOT "$ENV{EMSCRIPTEN}")
else()
  set(PONDSIM_EMSCRIPTEN_ROOT /usr/share/emscripten)
endif()
include("${PONDSIM_EMSCRIPTEN_ROOT}/cmake/Modules/Platform/Emscripten.cmake")
