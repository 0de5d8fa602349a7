# Offscreen rendering (a context of its own + a framebuffer object) and PNG
# output, for the pixel tests and the headless drivers' pictures; no shipped
# program links it. Included from tools/ and tests/: the imported targets are
# found in each including folder, the library is defined by whichever comes
# first. Windows draws through a hidden WGL window and writes PNGs without
# libpng; elsewhere Mesa's surfaceless EGL and libpng serve.
if(WIN32)
  set(pondsim_offscreen_sources tools/offscreen_wgl.cpp tools/png_stored.cpp)
  set(pondsim_offscreen_libraries PUBLIC GLEW::GLEW OpenGL::GL gdi32 user32)
else()
  find_package(OpenGL REQUIRED COMPONENTS EGL)
  find_package(PNG REQUIRED)
  set(pondsim_offscreen_sources tools/offscreen_egl.cpp tools/png.cpp)
  set(pondsim_offscreen_libraries PUBLIC GLEW::GLEW OpenGL::GL OpenGL::EGL PRIVATE PNG::PNG)
endif()
if(NOT TARGET pondsim_offscreen)
  list(TRANSFORM pondsim_offscreen_sources PREPEND ${PROJECT_SOURCE_DIR}/)
  add_library(pondsim_offscreen STATIC ${PROJECT_SOURCE_DIR}/tools/offscreen.cpp ${pondsim_offscreen_sources})
  target_include_directories(pondsim_offscreen PUBLIC ${PROJECT_SOURCE_DIR})
  target_compile_options(pondsim_offscreen PRIVATE ${PONDSIM_FP_FLAGS} ${PONDSIM_WARNINGS})
  target_link_libraries(pondsim_offscreen ${pondsim_offscreen_libraries})
endif()
